#include "core/application.h"

#include <QCoreApplication>

void ProcessMessages()
{
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}
