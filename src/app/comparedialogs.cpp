#include "app/comparedialogs.h"

#include "app/messageboxes.h"

TModalResult TMessageBoxDialogs::MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons)
{
    const TMessageBoxKind kind = type == mtWarning ? mbkWarning : mbkInformation;
    if (buttons == mbOK) {
        ShowMessageBox(kind, text, QMessageBox::Ok);
        return mrOk;
    }
    switch (ShowMessageBox(kind, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes: return mrYes;
    case QMessageBox::No: return mrNo;
    default: return mrCancel;
    }
}
