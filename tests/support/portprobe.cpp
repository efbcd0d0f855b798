// A second program that tries to open a serial device the way the
// programmer does. Exit status 0: it opened the device (and closed it);
// 1: the port refused, with the message on standard output; 2: usage.
#include "serial/comport.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
        return 2;
    }
    QCoreApplication application(argc, argv);
    TComPort port;
    port.SetPort(argv[1]);
    try {
        port.OpenPort();
        port.ClosePort();
    } catch (const std::exception& failure) {
        std::printf("%s", failure.what());
        return 1;
    }
    return 0;
}
