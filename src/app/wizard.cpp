#include "app/wizard.h"

#include "app/formfont.h"
#include "app/qtext.h"
#include "core/exceptions.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <cmath>

QPointer<TfrmConnectWiz> frmConnectWiz;

namespace {
QFrame* loweredPanel(QWidget* parent, const QRect& geometry)
{
    auto* panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setGeometry(geometry);
    return panel;
}
}

TfrmConnectWiz::TfrmConnectWiz(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle("Connecting the Unit to the PC");
    setFont(FormFont());
    setFixedSize(484, 272);

    btnNext = new QPushButton("Next >>>", this);
    btnNext->setGeometry(404, 242, 75, 25);
    btnNext->setDefault(true);
    connect(btnNext, &QPushButton::clicked, this, &QDialog::accept);

    btnCancel = new QPushButton("Cancel", this);
    btnCancel->setGeometry(324, 242, 75, 25);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    GroupBox = new QGroupBox(this);
    GroupBox->setGeometry(8, 8, 473, 223);
    PanelImage = loweredPanel(GroupBox, QRect(243, 16, 222, 197));
    Image = new QLabel(PanelImage);
    Image->setGeometry(PanelImage->contentsRect());
    Image->setAlignment(Qt::AlignCenter);
    PanelText = loweredPanel(GroupBox, QRect(8, 16, 225, 195));
}

int DefaultLabelHeight(const QLabel& label) { return label.fontMetrics().height() + 4; }

TfrmConnectWiz::~TfrmConnectWiz() { ClearInstructionLines(); }

int TfrmConnectWiz::ShowInstructions(const std::vector<std::string>& lines, const QPixmap& picture)
{
    SetInstructionLines(lines);
    Image->setPixmap(picture);
    return exec();
}

void TfrmConnectWiz::SetInstructionLines(const std::vector<std::string>& lines)
{
    if (lines.size() > FLines.size()) throw Exception("Too Many Strings");
    ClearInstructionLines();
    QStringList texts;
    for (const std::string& line : lines) texts.append(QStr(line));
    const QFont font = FontFittingWidth(PanelText->font(), texts, PanelText->contentsRect().width() - 2 * 5);
    for (size_t i = 0; i < lines.size(); ++i) {
        auto* label = new QLabel;
        FLines[i] = label;
        label->setParent(PanelText);
        label->setTextFormat(Qt::PlainText);
        label->setFont(font);
        // Lines sit three quarters of a label height apart, so the thirteen
        // lines of instructions and cable pin-out fit the panel. A label's
        // default height is a line of its font with two pixels above and
        // below, which makes the pitch about one line of text.
        const int height = DefaultLabelHeight(*label);
        label->move(5, 5 + int(std::nearbyint(height * 0.75 * double(i))));
        label->setText(texts[qsizetype(i)]);
        label->adjustSize();
        label->show();
    }
}

void TfrmConnectWiz::ClearInstructionLines()
{
    for (QLabel*& label : FLines) {
        delete label;
        label = nullptr;
    }
}
