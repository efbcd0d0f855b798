#include "app/userpromptdialog.h"

#include "app/artwork.h"
#include "app/flashapp.h"
#include "app/qtext.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QWindow>

TdlgUserPrompt::TdlgUserPrompt(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle("User Intervention Required...");
    setFixedSize(313, 109);

    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setGeometry(127, 68, 75, 25);
    connect(CancelBtn, &QPushButton::clicked, this, [this] { setResult(ResultCancel); });

    lblDialogText = new QLabel(this);
    lblDialogText->setTextFormat(Qt::PlainText);
    lblDialogText->move(64, 16);

    Image1 = new QLabel(this);
    Image1->setGeometry(16, 16, 32, 32);
    Image1->setPixmap(ArtworkPixmap("warning", QSize(32, 32)));
}

void TdlgUserPrompt::SetDialogText(const std::string& text)
{
    lblDialogText->setText(QStr(text));
    lblDialogText->adjustSize();
}

void TdlgUserPrompt::reject() { setResult(ResultCancel); }

void TdlgUserPrompt::showEvent(QShowEvent* event)
{
    setResult(ResultNone);
    QDialog::showEvent(event);
}

void TdlgUserPrompt::closeEvent(QCloseEvent* event)
{
    setResult(ResultCancel);
    event->ignore();
}

TUserPromptDialog::TUserPromptDialog(QObject* owner) : TUserPrompt(owner), FDialog(std::make_unique<TdlgUserPrompt>())
{
}

TUserPromptDialog::~TUserPromptDialog() = default;

void TUserPromptDialog::ShowPrompt(const std::string& text)
{
    FDialog->SetDialogText(text);
    // Kept above the main window without being its child: the prompt
    // belongs to the flash target, not to the window.
    if (QWidget* form = MainForm()) {
        FDialog->winId();
        form->winId();
        FDialog->windowHandle()->setTransientParent(form->windowHandle());
    }
    CentreOnMainForm(FDialog.get());
    FDialog->show();
}

bool TUserPromptDialog::PromptCancelled() { return FDialog->result() == TdlgUserPrompt::ResultCancel; }

void TUserPromptDialog::HidePrompt() { FDialog->hide(); }
