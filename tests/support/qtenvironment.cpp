// The application object for a test program without windows: the protocol's
// waits and its keep-alive run on Qt timers and events, which need one on the
// thread that runs the tests.
#include <QCoreApplication>
#include <gtest/gtest.h>
#include <memory>

namespace {
class TQtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!QCoreApplication::instance()) FApp = std::make_unique<QCoreApplication>(FArgc, FArgv);
    }
    void TearDown() override { FApp.reset(); }

private:
    int FArgc = 1;
    char FName[12] = "morvex-test";
    char* FArgv[2] = {FName, nullptr};
    std::unique_ptr<QCoreApplication> FApp;
};

[[maybe_unused]] ::testing::Environment* const registered = ::testing::AddGlobalTestEnvironment(new TQtEnvironment);
}
