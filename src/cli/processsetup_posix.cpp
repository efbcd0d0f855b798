#include "cli/processsetup.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

void PrepareProcess()
{
    // Started with standard input, output or error closed (a careless
    // daemon, a `>&-`), the first descriptors we open would take their
    // numbers: the interrupt pipe would become standard error, and every
    // message would read back as a Ctrl-C. /dev/null fills each gap first.
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1) continue;
        const int opened = open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != descriptor) {
            dup2(opened, descriptor);
            close(opened);
        }
    }
    // A log that reaches the file-size limit (ulimit -f) must fail its
    // write, which the program reports, rather than end the process with
    // the unit programmed and nothing said.
    std::signal(SIGXFSZ, SIG_IGN);
}
