// The whole of morvex-flash-cli once the application object exists: the
// command line, then one programming run of the embedded image (or the
// image's description, or the port list), and the exit status.
#pragma once

#include "image/imagedigest.h"
#include "image/storedimage.h"

#include <QStringList>

// The image is the embedded one; tests pass records of their own.
int RunCommandLine(const QStringList& arguments, const TStoredImage& image = StoredImage,
                   const TImageDigest& digest = StoredImageDigest);
