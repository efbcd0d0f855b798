#include "cli/gang.h"

#include <QProcess>
#include <windows.h>

void PrepareGangChild(QProcess& process)
{
    // A process group of its own receives Ctrl-Break sent to it alone; the
    // console's Ctrl-C reaches the parent, which passes it on.
    process.setCreateProcessArgumentsModifier(
        [](QProcess::CreateProcessArguments* arguments) { arguments->flags |= CREATE_NEW_PROCESS_GROUP; });
}

void StopGangChild(QProcess& process)
{
    if (process.processId() > 0) GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, DWORD(process.processId()));
}
