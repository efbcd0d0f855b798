// Windows gives a process without a console invalid standard handles, which
// the C runtime's writes simply fail on, and has no signals that a write
// could raise: nothing to put right.
#include "cli/processsetup.h"

void PrepareProcess() {}
