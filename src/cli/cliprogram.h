// The whole of morvex-flash-cli once the application object exists: the
// command line, then one programming run of the embedded image (or the
// image's description, or the port list), and the exit status.
#pragma once

#include <QStringList>

int RunCommandLine(const QStringList& arguments);
