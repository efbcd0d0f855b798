// The operator prompt as the lower layers see it. This base kind is silent
// and never cancelled; the window and the terminal each supply their own
// kind through the run's operator (core/operatorhooks.h).
#pragma once

#include <QObject>
#include <string>

class TUserPrompt : public QObject {
    Q_OBJECT
public:
    explicit TUserPrompt(QObject* owner = nullptr) : QObject(owner) {}
    ~TUserPrompt() override = default;

    virtual void ShowPrompt(const std::string& text) { (void)text; }
    virtual bool PromptCancelled() { return false; }
    virtual void HidePrompt() {}
};
