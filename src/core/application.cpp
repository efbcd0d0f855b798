#include "core/application.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
TExceptionHandler& installedHandler()
{
    static TExceptionHandler handler;
    return handler;
}
}

void ProcessMessages()
{
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void SetExceptionHandler(TExceptionHandler handler) { installedHandler() = std::move(handler); }

void HandleException(const std::exception& failure)
{
    if (installedHandler()) {
        installedHandler()(failure);
        return;
    }
    std::fprintf(stderr, "%s\n", failure.what());
}
