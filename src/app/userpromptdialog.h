// The operator prompt shown while the unit waits for the operator (reset
// the unit into its boot loader): a small modeless window with a warning
// icon, the text and Cancel. The protocol keeps working while it is shown
// and asks at each retry whether the operator has cancelled.
#pragma once

#include "core/userprompt.h"

#include <QDialog>
#include <memory>
#include <string>

class QLabel;
class QPushButton;

class TdlgUserPrompt : public QDialog {
    Q_OBJECT
public:
    // The window's result: none while waiting, Cancel once the operator
    // pressed Cancel, Esc or the close box.
    enum : int { ResultNone = 0, ResultCancel = 2 };

    explicit TdlgUserPrompt(QWidget* parent = nullptr);

    void SetDialogText(const std::string& text);

    QPushButton* CancelBtn;
    QLabel* lblDialogText;
    QLabel* Image1;

public slots:
    // Esc: counts as Cancel; the window stays until its caller hides it.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};

class TUserPromptDialog : public TUserPrompt {
    Q_OBJECT
public:
    explicit TUserPromptDialog(QObject* owner = nullptr);
    ~TUserPromptDialog() override;

    void ShowPrompt(const std::string& text) override;
    bool PromptCancelled() override;
    void HidePrompt() override;

    TdlgUserPrompt* Dialog() const { return FDialog.get(); }

private:
    std::unique_ptr<TdlgUserPrompt> FDialog;
};
