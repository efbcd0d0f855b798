// The application object and what every window asks of it: the title, the
// main window to centre on, and whether a run is under way. A failure that
// leaves an event handler ends in the application's notify, which shows it
// (messageboxes.h) and lets the program carry on.
#pragma once

#include <QApplication>
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

class TFlashApplication : public QApplication {
    Q_OBJECT
public:
    TFlashApplication(int& argc, char** argv);

    // Delivers the event; a failure raised by its handler is shown with
    // ShowException instead of crossing the event dispatch.
    bool notify(QObject* receiver, QEvent* event) override;
};
