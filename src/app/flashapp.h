// The application object, its title, and the message boxes every window
// uses. Failures of a programming run are not caught by the windows: they
// leave the event handler that raised them and end here, in one place that
// shows them in an error box and lets the program carry on.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <string>

constexpr const char* ProgramTitle = "Morvex Classic Series Flash Programmer";

// The title of the program's windows and message boxes. The main window
// replaces it with the stored image's name when there is one.
std::string ApplicationTitle();
void SetApplicationTitle(const std::string& title);

// The window that message boxes and the operator prompt centre on, when
// there is one (the main window registers itself).
QWidget* MainForm();
void SetMainForm(QWidget* form);
// Moves a top-level window so that its centre is the centre of the screen,
// or of the main window (the screen when there is no other main window).
// A window not shown yet is centred on the screen again once it is shown
// and has its frame.
void CentreOnScreen(QWidget* window);
void CentreOnMainForm(QWidget* window);

// Whether a programming run is under way (the main window says so): windows
// that the operator opens meanwhile must not hold it up.
bool RunUnderWay();
void SetRunUnderWay(bool underWay);

// The text of the error box for a failure's message: a full stop is added
// when the message's last character sorts after "." in character-code
// order, so "Connect Cancelled by User" ends with a full stop while a text
// ending in "!" or "." stays as it is.
std::string ErrorBoxText(const std::string& message);

// The message boxes, all titled with the application title. Lines of the
// text may end in CR, LF or CR LF. ShowMessageBox returns the button chosen.
enum TMessageBoxKind { mbkError, mbkInformation, mbkWarning, mbkConfirmation };
QMessageBox::StandardButton ShowMessageBox(TMessageBoxKind kind, const std::string& text,
                                           QMessageBox::StandardButtons buttons);
void ShowErrorBox(const std::string& text); // stop icon, OK
// The error box without waiting for it to close: for a box that may appear
// while a run is under way, whose own event loop would otherwise hold the
// run until the operator closes the box. It is modal all the same.
void OpenErrorBox(const std::string& text);
void ShowInformationBox(const std::string& text); // information icon, OK
bool AskConfirmation(const std::string& text);    // question icon, Yes/No; true on Yes

// Shows a failure that reached the application: the error box with
// ErrorBoxText of its message.
void ShowException(const std::exception& failure);

class TFlashApplication : public QApplication {
    Q_OBJECT
public:
    // Also routes the core's HandleException to ShowException.
    TFlashApplication(int& argc, char** argv);
    ~TFlashApplication() override;

    // Delivers the event; a failure raised by its handler is shown with
    // ShowException instead of crossing the event dispatch.
    bool notify(QObject* receiver, QEvent* event) override;
};
