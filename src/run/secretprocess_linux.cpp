#include "run/secretprocess.h"

#include <sys/prctl.h>
#include <sys/resource.h>

void KeepSecretsFromOtherProcesses()
{
    // Not dumpable: the kernel writes no core (with the default
    // suid_dumpable of 0) and refuses ptrace and /proc/<pid>/mem to other
    // processes of the user. The core limit covers a system where the
    // administrator made undumpable processes dump after all.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
}
