// The message boxes of the interactive image comparison, as real windows.
#pragma once

#include "protocol/messagedialogs.h"

class TMessageBoxDialogs : public TMessageDialogs {
public:
    // A warning or information box titled with the application title, with
    // OK or Yes/No/Cancel; the close box and Esc answer Cancel (OK for a
    // box that only has OK).
    TModalResult MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) override;
};
