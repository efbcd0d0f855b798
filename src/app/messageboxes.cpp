#include "app/messageboxes.h"

#include "app/flashapp.h"
#include "app/qtext.h"
#include "core/text.h"

#include <memory>

std::string ErrorBoxText(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

namespace {
std::unique_ptr<QMessageBox> CreateMessageBox(TMessageBoxKind kind, const std::string& text,
                                              QMessageBox::StandardButtons buttons)
{
    static const QMessageBox::Icon icons[] = {QMessageBox::Critical, QMessageBox::Information, QMessageBox::Warning,
                                              QMessageBox::Question};
    auto box = std::make_unique<QMessageBox>(icons[kind], QStr(ApplicationTitle()), QStr(WithLfLineEnds(text)), buttons,
                                             MainForm());
    box->setTextFormat(Qt::PlainText);
    return box;
}
}

QMessageBox::StandardButton ShowMessageBox(TMessageBoxKind kind, const std::string& text,
                                           QMessageBox::StandardButtons buttons)
{
    return QMessageBox::StandardButton(CreateMessageBox(kind, text, buttons)->exec());
}

void ShowErrorBox(const std::string& text) { ShowMessageBox(mbkError, text, QMessageBox::Ok); }

void OpenErrorBox(const std::string& text)
{
    QMessageBox* box = CreateMessageBox(mbkError, text, QMessageBox::Ok).release();
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

void ShowInformationBox(const std::string& text) { ShowMessageBox(mbkInformation, text, QMessageBox::Ok); }

bool AskConfirmation(const std::string& text)
{
    return ShowMessageBox(mbkConfirmation, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void ShowException(const std::exception& failure) { ShowErrorBox(ErrorBoxText(failure.what())); }
