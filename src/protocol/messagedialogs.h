// The message boxes that the interactive image comparison shows, as an
// abstract interface: this layer has no windows, the application supplies
// the window-backed kind and tests supply a scripted one.
#pragma once

#include <string>

enum TMsgDlgType { mtWarning, mtInformation };
enum TMsgDlgButtons { mbOK, mbYesNoCancel };
enum TModalResult { mrOk, mrYes, mrNo, mrCancel };

class TMessageDialogs {
public:
    virtual ~TMessageDialogs() = default;
    // Shows a modal message box and returns the button the operator chose.
    virtual TModalResult MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) = 0;
};
