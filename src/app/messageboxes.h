// The message boxes every window uses, all titled with the application
// title and centred on the main window, and the one rule by which a
// failure's message becomes the text of its error box.
#pragma once

#include <QMessageBox>
#include <exception>
#include <string>

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

// Shows a failure: the error box with ErrorBoxText of its message. Every
// failure the window shows goes through here: the run's own, one the run
// hears of in the background, and one that reaches the application's event
// delivery.
void ShowException(const std::exception& failure);
