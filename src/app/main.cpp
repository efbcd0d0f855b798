// The Morvex Classic Series Flash Programmer: one window that programs the
// firmware image carried inside this program into a unit over a serial
// cable. It takes no command line and reads or writes no file.
#include "app/flashapp.h"
#include "app/startup.h"

int main(int argc, char** argv)
{
    TFlashApplication application(argc, argv);
    std::unique_ptr<TfrmUserFlash> form = CreateForms();
    form->show();
    return application.exec();
}
