#include "app/progressviews.h"

#include "app/qtext.h"

#include <QLabel>
#include <QProgressBar>
#include <algorithm>

void TLabelStatusText::SetText(const std::string& text) { FLabel->setText(QStr(text)); }

void TBarProgressView::SetRange(int minimum, int maximum) { FBar->setRange(minimum, maximum); }

// The bar ignores values outside its range; a step past the end shows full.
void TBarProgressView::SetPosition(int position)
{
    FBar->setValue(std::clamp(position, FBar->minimum(), FBar->maximum()));
}

int TBarProgressView::Position() const { return FBar->value(); }
