// The About box: program title, part number and version, the maker and its
// web address, and the firmware image this copy carries. It is reached
// through the "About..." entry of the main window's menu.
#pragma once

#include "image/storedimage.h"

#include <QDialog>
#include <QPointer>
#include <string>

class QFrame;
class QLabel;
class QPushButton;

constexpr const char* ProgramVersionText = "4620-511 Version 1.6";
constexpr const char* MakerNoticeText = "Copyright (c) Morvex Instruments. All rights reserved.";
constexpr const char* MakerWebHost = "www.morvex.example";

// The command number of the "About..." entry.
constexpr int SC_ABOUT = 1025;

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr, const TStoredImage& image = StoredImage);

    void SetImageText(const std::string& text);
    // Fills in the image line and shows the box modally.
    void ShowAbout();

    // The address the web link opens.
    static QString MakerWebUrl();

    QPushButton* btnOk;
    QLabel* ImageRI;
    QLabel* lblMorvexWeb;
    QFrame* Bevel1;
    QLabel* lblMorvex;
    QLabel* lblVersion;
    QLabel* lblProgram;
    QLabel* lblBinaryImage;

public slots:
    void btnOkClick();
    void lblMorvexWebClick();
    // The box has no close box and no Cancel: Esc and close requests do
    // nothing, only Ok closes it.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const TStoredImage& FImage;
};

// The About box of the program, created once at start-up.
extern QPointer<TfrmAbout> frmAbout;

// Appends a separator and "About..." to the window's menu: on Windows the
// window's system menu (aboutmenu_win32.cpp); elsewhere a program cannot
// extend the window manager's menu, so the entries go to the window's own
// context menu (right click, aboutmenu_other.cpp).
void AddAboutMenuItem(QWidget* window);
// The handler of the menu's commands: SC_ABOUT shows the About box.
void HandleSysCommand(int command);
// A native message of the window (its nativeEvent): true when it was the
// system menu's "About..." and has been handled.
bool HandleSystemMenuMessage(const QByteArray& eventType, void* message, qintptr* result);
