// morvex-flash-cli: programs a Morvex unit over a serial port with the
// firmware image built into this program, from a terminal or a production
// bench script. See --help.
#include "cli/cliprogram.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("morvex-flash-cli");
    QCoreApplication::setApplicationVersion(MORVEX_VERSION);
    // Progress and messages interleave in the order they happen, also when
    // both streams go to one file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return RunCommandLine(QCoreApplication::arguments());
}
