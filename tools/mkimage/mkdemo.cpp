// Writes the demo firmware image (a plain whole-flash image) to a file.
// Usage: mkdemo <output file>
#include "tools/mkimage/demofirmware.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkdemo <output file>\n");
        return 2;
    }
    const auto image = MakeDemoFirmware();
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "mkdemo: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
