// What the command-line tests share: simulated units of the embedded
// image's model on pseudo-terminals, the plain image to compare their flash
// with, a scratch folder, and checks on the port and the unit.
#pragma once

#include "clichild.h"
#include "cli/exitcodes.h"
#include "serial/portinfo.h"
#include "tests/support/testunit.h"

#include <QJsonObject>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

// The plain firmware the program carries, as the build generated it.
const std::vector<uint8_t>& PlainImage();
uint32_t ImageUnitType();

// How many of the plain image's distinctive 16-byte windows (leaving out
// runs of one repeated byte, which any memory holds) occur in the bytes.
size_t PlainWindowsIn(const std::string& bytes);

// The whole file's bytes ("" when it cannot be read).
std::string ReadText(const std::string& path);

// Whether the device can be opened and locked as the programmer opens it:
// "" when it can, otherwise why not.
std::string LockPort(const std::string& path);

// The message the serial layer itself gives for opening the port now, as
// the program prints it (one line per line of the message); "" when the
// port opens.
std::string PortOpenMessage(const std::string& path);

// The stderr of a run split into lines.
std::vector<std::string> Lines(const std::string& text);

// Each line of a run log as a JSON object; a line that is not one fails.
std::vector<QJsonObject> LogRecords(const std::string& path);
// The names of a record's steps, in order.
std::vector<std::string> StepNames(const QJsonObject& record);

class CliTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A simulated unit of the image's model; options.UnitType is set here.
    TTestUnit& StartUnit(TUnitSimOptions options = {});
    // The arguments of a run against a unit, then the extra ones.
    static std::vector<std::string> RunArguments(const TUnitSim& unit, std::vector<std::string> extra = {});

    bool FlashHoldsTheImage(const TUnitSim& unit) const;
    static bool FlashIsErased(const TUnitSim& unit);
    static bool UnitSawNothing(const TUnitSim& unit) { return unit.Transcript().empty(); }

    std::string Scratch() const { return FScratch; }

    std::vector<std::unique_ptr<TTestUnit>> Units;

private:
    std::string FScratch;
};

// A sysfs tree as the kernel lays it out, in the scratch folder.
class PortFacts : public CliTest {
protected:
    void Write(const std::string& path, const std::string& text)
    {
        std::filesystem::create_directories(std::filesystem::path(Root() + path).parent_path());
        std::ofstream(Root() + path) << text << "\n";
    }
    void Link(const std::string& path, const std::string& target)
    {
        std::filesystem::create_directories(std::filesystem::path(Root() + path).parent_path());
        std::filesystem::create_directories(Root() + target);
        std::filesystem::create_directory_symlink(Root() + target, Root() + path);
    }
    void Device(const std::string& name) { Write("/dev/" + name, ""); }
    std::string Root() const { return Scratch(); }
    TSerialFactSources Sources() const { return {Root() + "/sys/class/tty", Root() + "/dev/serial/by-id"}; }
};
