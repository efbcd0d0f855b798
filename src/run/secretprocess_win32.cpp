// Windows writes no core file of its own accord, and only an administrator
// or the user's own debugger reads another process's memory: there is
// nothing to switch off.
#include "run/secretprocess.h"

void KeepSecretsFromOtherProcesses() {}
