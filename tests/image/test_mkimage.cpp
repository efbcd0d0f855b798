// The build-time record generator as the build runs it: a record the
// program would refuse to program never gets built.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {
struct TGenerated {
    int ExitCode = -1;
    std::string Output; // standard output and error
};

TGenerated Generate(const std::string& plain, const std::string& name)
{
    char folder[] = "/tmp/morvex-mkimage-XXXXXX";
    EXPECT_NE(mkdtemp(folder), nullptr);
    const std::string image = std::string(folder) + "/plain.bin";
    std::ofstream(image, std::ios::binary) << plain;
    const std::string command = std::string(MORVEX_MKIMAGE_PROGRAM) + " " + image + " '" + name + "' 3 " +
                                "0011223344556677 " + folder + "/record.cpp " + folder + "/phrase.cpp 2>&1";
    TGenerated result;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) result.Output += buffer;
        const int status = pclose(pipe);
        result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    result.Output += std::filesystem::exists(std::string(folder) + "/record.cpp") ? "(record written)" : "";
    std::filesystem::remove_all(folder);
    return result;
}
}

TEST(ImageGenerator, RefusesAnEmptyImageOrAnEmptyName)
{
    const TGenerated empty = Generate("", "4620 V2.5");
    EXPECT_EQ(empty.ExitCode, 1);
    EXPECT_NE(empty.Output.find("mkimage: the plain image "), std::string::npos) << empty.Output;
    EXPECT_NE(empty.Output.find(" is empty\n"), std::string::npos) << empty.Output;
    EXPECT_EQ(empty.Output.find("(record written)"), std::string::npos);

    const TGenerated unnamed = Generate("firmware", "");
    EXPECT_EQ(unnamed.ExitCode, 1);
    EXPECT_EQ(unnamed.Output, "mkimage: the image name is empty\n");

    const TGenerated good = Generate("firmware", "4620 V2.5");
    EXPECT_EQ(good.ExitCode, 0) << good.Output;
    EXPECT_EQ(good.Output, "(record written)");
}
