#include "app/flashapp.h"

#include "app/qtext.h"
#include "core/application.h"

#include <QMessageBox>
#include <QPointer>
#include <QScreen>

namespace {
std::string& titleText()
{
    static std::string title = ProgramTitle;
    return title;
}

QPointer<QWidget>& mainForm()
{
    static QPointer<QWidget> form;
    return form;
}

int showBox(QMessageBox::Icon icon, const std::string& text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, QStr(ApplicationTitle()), QStr(text), buttons, MainForm());
    box.setTextFormat(Qt::PlainText);
    return box.exec();
}
}

std::string ApplicationTitle() { return titleText(); }

void SetApplicationTitle(const std::string& title)
{
    titleText() = title;
}

QWidget* MainForm() { return mainForm(); }

void SetMainForm(QWidget* form) { mainForm() = form; }

namespace {
void centreOn(QWidget* window, const QRect& area)
{
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}
}

void CentreOnScreen(QWidget* window)
{
    if (QScreen* screen = QGuiApplication::primaryScreen()) centreOn(window, screen->availableGeometry());
}

void CentreOnMainForm(QWidget* window)
{
    QWidget* form = MainForm();
    if (form && form != window)
        centreOn(window, form->frameGeometry());
    else
        CentreOnScreen(window);
}

std::string ErrorBoxText(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

void ShowErrorBox(const std::string& text) { showBox(QMessageBox::Critical, text, QMessageBox::Ok); }

void ShowInformationBox(const std::string& text)
{
    showBox(QMessageBox::Information, text, QMessageBox::Ok);
}

bool AskConfirmation(const std::string& text)
{
    return showBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void ShowException(const std::exception& failure) { ShowErrorBox(ErrorBoxText(failure.what())); }

TFlashApplication::TFlashApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    SetExceptionHandler([](const std::exception& failure) { ShowException(failure); });
}

TFlashApplication::~TFlashApplication() { SetExceptionHandler(nullptr); }

bool TFlashApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& failure) {
        ShowException(failure);
    } catch (...) {
        ShowErrorBox("An unexpected failure occurred.");
    }
    return true;
}
