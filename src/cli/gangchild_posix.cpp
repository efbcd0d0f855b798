#include "cli/gang.h"

#include <QProcess>
#include <csignal>
#include <unistd.h>

void PrepareGangChild(QProcess& process)
{
    // A process group of its own: a Ctrl-C typed on the terminal reaches the
    // parent alone, which passes it on once to every child.
    process.setChildProcessModifier([] { setpgid(0, 0); });
}

// SIGTERM rather than SIGINT: a bench script may start the gang with
// SIGINT ignored, which the children inherit.
void StopGangChild(QProcess& process)
{
    if (process.processId() > 0) kill(pid_t(process.processId()), SIGTERM);
}
