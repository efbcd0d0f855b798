#include "app/startup.h"

#include "app/about.h"
#include "app/artwork.h"
#include "app/flashapp.h"
#include "app/wizard.h"

#include <QIcon>

std::unique_ptr<TfrmUserFlash> CreateForms(const TStoredImage& image, const TImageDigest& digest)
{
    SetApplicationTitle(ProgramTitle);
    QApplication::setWindowIcon(ArtworkIcon("appicon"));
    auto form = std::make_unique<TfrmUserFlash>(image, digest);
    SetMainForm(form.get());
    CentreOnScreen(form.get());
    frmAbout = new TfrmAbout(form.get(), image);
    frmConnectWiz = new TfrmConnectWiz(form.get());
    return form;
}
