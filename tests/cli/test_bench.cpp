// The production bench: several copies of the program at once, each on its
// own port with its own unit, sharing one log; and a second copy started on
// a port that a first is programming through.
#include "clifixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

namespace {
class CliBench : public CliTest {};

TEST_F(CliBench, FourCopiesInParallelProgramFourUnitsAndLogAWholeLineEach)
{
    constexpr int Copies = 4;
    const std::string log = Scratch() + "/bench.jsonl";
    for (int i = 0; i < Copies; ++i) StartUnit();

    const auto started = std::chrono::steady_clock::now();
    std::vector<std::unique_ptr<TCliChild>> children;
    for (const auto& unit : Units) children.push_back(std::make_unique<TCliChild>(RunArguments(*unit, {"--log", log})));
    std::vector<TCliResult> results;
    for (const auto& child : children) results.push_back(child->Wait());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%d parallel runs took %.2f s\n", Copies, seconds);

    for (int i = 0; i < Copies; ++i) {
        EXPECT_EQ(results[size_t(i)].ExitCode, ecSuccess) << results[size_t(i)].Err;
        EXPECT_TRUE(FlashHoldsTheImage(*Units[size_t(i)])) << "unit " << i;
        EXPECT_EQ(LockPort(Units[size_t(i)]->PortPath()), "");
    }
    std::ifstream file(log, std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(file), {});
    std::set<std::string> ports;
    for (const std::string& line : Lines(text)) {
        const QJsonDocument record = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        ASSERT_TRUE(record.isObject()) << line;
        EXPECT_EQ(record.object().value("result").toString(), "success");
        ports.insert(record.object().value("port").toString().toStdString());
    }
    std::set<std::string> expected;
    for (const auto& unit : Units) expected.insert(unit->PortPath());
    EXPECT_EQ(ports, expected);
    EXPECT_EQ(Lines(text).size(), size_t(Copies));
}

TEST_F(CliBench, ASecondCopyOnAPortInUseIsRefusedWithThePortsMessageAndTheFirstStillSucceeds)
{
    TUnitSimOptions options;
    options.EraseMs = 1500; // the first copy holds the port through a long erase
    TUnitSim& unit = StartUnit(options);
    TCliChild first(RunArguments(unit));
    ASSERT_TRUE(unit.WaitForFrame("erase start", 30000));

    const std::string message = PortOpenMessage(unit.PortPath());
    ASSERT_EQ(message.rfind("Unable to open com port (win error code: 16)", 0), 0u) << message;
    const TCliResult second = RunCli(RunArguments(unit, {"--yes"}));
    EXPECT_EQ(second.ExitCode, ecPortError);
    EXPECT_EQ(Lines(second.Err), Lines(message));
    EXPECT_EQ(second.Out.find("Try Boot Method"), std::string::npos) << second.Out;

    const TCliResult result = first.Wait();
    EXPECT_EQ(result.ExitCode, ecSuccess) << result.Err;
    EXPECT_EQ(result.Err, "");
    EXPECT_TRUE(FlashHoldsTheImage(unit));
    EXPECT_EQ(LockPort(unit.PortPath()), "");
}
}
