// Program start-up: the title, the main window, then the About box and the
// connection wizard, each created once for the whole run of the program.
#pragma once

#include "app/mainwindow.h"

#include <memory>

// Also gives the program its icon. The caller shows the main window.
std::unique_ptr<TfrmUserFlash> CreateForms(const TStoredImage& image = StoredImage,
                                           const TImageDigest& digest = StoredImageDigest);
