// The application object of a window test program: the program's own, so a
// failure raised in an event handler is shown the way the program shows it.
// One for the whole test program, created before the first test and kept to
// the end.
#include "app/flashapp.h"

#include <gtest/gtest.h>

namespace {
// The offscreen platform warns about every dialog's size hints; that
// warning says nothing about the program.
QtMessageHandler defaultMessageHandler = nullptr;
void quietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!message.contains("propagateSizeHints")) defaultMessageHandler(type, context, message);
}

class TApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "morvex-window-tests";
        static char* argv[] = {name, nullptr};
        defaultMessageHandler = qInstallMessageHandler(quietMessages);
        FApplication = new TFlashApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }

private:
    TFlashApplication* FApplication = nullptr;
};

[[maybe_unused]] ::testing::Environment* const applicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new TApplicationEnvironment);
}
