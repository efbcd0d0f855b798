// The whole of morvex-flash-cli once the application object exists: the
// command line, then one programming run of the embedded image (or the
// image's description, or the port list), and the exit status.
#pragma once

#include "image/imagedigest.h"
#include "image/storedimage.h"

#include <QStringList>

// The image is the embedded one; tests pass records of their own. A gang
// starts each unit's run as unitCommand followed by the unit's options:
// empty, this program itself; a program that runs the command line after a
// leading word of its own (a test probe) names itself and that word.
int RunCommandLine(const QStringList& arguments, const TStoredImage& image = StoredImage,
                   const TImageDigest& digest = StoredImageDigest, const QStringList& unitCommand = {});
