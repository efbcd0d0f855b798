// The status text and progress bar as the protocol sees them. The
// application wraps its label and bar in these; either may be absent.
#pragma once

#include <string>

class TStatusText {
public:
    virtual ~TStatusText() = default;
    virtual void SetText(const std::string& text) = 0;
};

class TProgressView {
public:
    virtual ~TProgressView() = default;
    virtual void SetRange(int minimum, int maximum) = 0;
    virtual void SetStep(int step) = 0;
    virtual void SetPosition(int position) = 0;
    virtual int Position() const = 0;
};
