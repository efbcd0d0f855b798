// The main window's status label and progress bar as the protocol sees
// them (TStatusText, TProgressView).
#pragma once

#include "core/progress.h"

class QLabel;
class QProgressBar;

class TLabelStatusText : public TStatusText {
public:
    explicit TLabelStatusText(QLabel* label) : FLabel(label) {}
    void SetText(const std::string& text) override;

private:
    QLabel* FLabel;
};

class TBarProgressView : public TProgressView {
public:
    explicit TBarProgressView(QProgressBar* bar) : FBar(bar) {}
    void SetRange(int minimum, int maximum) override;
    void SetStep(int step) override { FStep = step; }
    int Step() const { return FStep; }
    void SetPosition(int position) override;
    int Position() const override;

private:
    QProgressBar* FBar;
    int FStep = 10;
};
