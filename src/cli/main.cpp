// morvex-flash-cli: programs a Morvex unit over a serial port with the
// firmware image built into this program, from a terminal or a production
// bench script. See --help.
#include "cli/cliprogram.h"
#include "cli/processsetup.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    PrepareProcess();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("morvex-flash-cli");
    QCoreApplication::setApplicationVersion(MORVEX_VERSION);
    // Progress and messages interleave in the order they happen, also when
    // both streams go to one file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // A reader that goes away (a pipe into head) must not end a run half
    // way through programming: the output is lost, the run goes on.
#ifdef SIGPIPE // Windows has no such signal: a write to a closed pipe only fails
    std::signal(SIGPIPE, SIG_IGN);
#endif
    return RunCommandLine(QCoreApplication::arguments());
}
