#include "app/about.h"

#include "app/artwork.h"
#include "app/flashapp.h"
#include "app/formfont.h"
#include "app/qtext.h"

#include <QAction>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

QPointer<TfrmAbout> frmAbout;

namespace {
QLabel* boldLabel(QWidget* parent, int pixelSize, int left, int top)
{
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPixelSize(pixelSize);
    label->setFont(font);
    label->move(left, top);
    return label;
}

void setLabelText(QLabel* label, const std::string& text)
{
    label->setText(QStr(text));
    label->adjustSize();
}
}

TfrmAbout::TfrmAbout(QWidget* parent, const TStoredImage& image)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), FImage(image)
{
    setFont(FormFont());
    setFixedSize(455, 199);

    btnOk = new QPushButton("Ok", this);
    btnOk->setGeometry(376, 168, 70, 25);
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &TfrmAbout::btnOkClick);

    ImageRI = new QLabel(this);
    ImageRI->setGeometry(8, 8, 32, 32);

    lblMorvexWeb = new QLabel(this);
    lblMorvexWeb->setTextFormat(Qt::PlainText);
    lblMorvexWeb->setStyleSheet("color: blue");
    lblMorvexWeb->setCursor(Qt::PointingHandCursor);
    lblMorvexWeb->move(62, 104);
    lblMorvexWeb->installEventFilter(this);

    Bevel1 = new QFrame(this);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 112 + 17 - 2, 439, 2);

    lblMorvex = boldLabel(this, 19, 64, 8);
    lblVersion = new QLabel(this);
    lblVersion->move(64, 72);
    lblProgram = boldLabel(this, 21, 64, 40);
    lblBinaryImage = new QLabel(this);
    lblBinaryImage->move(8, 136);
    for (QLabel* label : {lblMorvex, lblVersion, lblProgram, lblBinaryImage}) label->setTextFormat(Qt::PlainText);

    setWindowTitle(QStr("About " + ApplicationTitle()));
    setLabelText(lblVersion, std::string(ProgramVersionText) + "\n" + MakerNoticeText);
    setLabelText(lblMorvex, "Morvex Instruments");
    lblProgram->setFont(FontFittingWidth(lblProgram->font(), {ProgramTitle}, width() - lblProgram->x() - 8));
    setLabelText(lblProgram, ProgramTitle);
    SetImageText("No Flash Image Available");
    setLabelText(lblMorvexWeb, MakerWebHost);
    ImageRI->setPixmap(ArtworkPixmap("logo", QSize(32, 32)));
    btnOk->setFocus();
}

QString TfrmAbout::MakerWebUrl() { return QStringLiteral("https://%1/").arg(MakerWebHost); }

void TfrmAbout::SetImageText(const std::string& text) { setLabelText(lblBinaryImage, text); }

void TfrmAbout::ShowAbout()
{
    if (!GetImageName(FImage).empty()) {
        const QWidget* form = MainForm();
        SetImageText("Flash Image: " + StdStr(form ? form->windowTitle() : QString()));
    }
    if (RunUnderWay()) {
        // Its own event loop would hold the run (and a unit waiting between
        // blocks) for as long as the box is open: show it modal, and let
        // the run go on underneath.
        setWindowModality(Qt::ApplicationModal);
        show();
        raise();
        activateWindow();
        return;
    }
    exec();
}

void TfrmAbout::btnOkClick() { accept(); }

void TfrmAbout::lblMorvexWebClick()
{
    // A browser that cannot be started is no failure of this program.
    QDesktopServices::openUrl(QUrl(MakerWebUrl()));
}

void TfrmAbout::reject() {}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lblMorvexWeb && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        lblMorvexWebClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void HandleSysCommand(int command)
{
    if (command == SC_ABOUT && frmAbout) frmAbout->ShowAbout();
}
