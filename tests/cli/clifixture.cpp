#include "clifixture.h"

#include "cli/terminaloperator.h"
#include "image/storedimage.h"
#include "serial/comport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/file.h>
#include <unordered_map>
#include <unordered_set>
#include <unistd.h>

const std::vector<uint8_t>& PlainImage()
{
    static const std::vector<uint8_t> image = [] {
        std::ifstream file(MORVEX_PLAIN_IMAGE_FILE, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
    }();
    return image;
}

uint32_t ImageUnitType() { return UnitType(StoredImage); }

size_t PlainWindowsIn(const std::string& bytes)
{
    constexpr size_t kWindow = 16;
    const std::vector<uint8_t>& plain = PlainImage();
    // Indexed by their first eight bytes: a core file of some megabytes is
    // searched at every offset in a second or two.
    static const std::unordered_multimap<uint64_t, std::string> windows = [&plain] {
        std::unordered_multimap<uint64_t, std::string> map;
        for (size_t i = 0; i + kWindow <= plain.size(); ++i) {
            const auto begin = plain.begin() + long(i);
            if (std::all_of(begin, begin + kWindow, [&](uint8_t b) { return b == plain[i]; })) continue;
            uint64_t key;
            std::memcpy(&key, &plain[i], sizeof key);
            map.emplace(key, std::string(begin, begin + kWindow));
        }
        return map;
    }();
    std::unordered_set<std::string> found;
    for (size_t i = 0; i + kWindow <= bytes.size(); ++i) {
        uint64_t key;
        std::memcpy(&key, bytes.data() + i, sizeof key);
        const auto [first, last] = windows.equal_range(key);
        for (auto it = first; it != last; ++it)
            if (bytes.compare(i, kWindow, it->second) == 0) found.insert(it->second);
    }
    return found.size();
}

std::string ReadText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string LockPort(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::string("open: ") + std::strerror(errno);
    std::string result;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) result = std::string("lock: ") + std::strerror(errno);
    close(fd);
    return result;
}

std::string PortOpenMessage(const std::string& path)
{
    TComPort port;
    port.SetPort(path);
    try {
        port.OpenPort();
        port.ClosePort();
    } catch (const EComPort& failure) {
        return TerminalText(failure.what());
    }
    return "";
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<QJsonObject> LogRecords(const std::string& path)
{
    std::vector<QJsonObject> records;
    const std::string text = ReadText(path);
    EXPECT_TRUE(text.empty() || text.back() == '\n');
    for (const std::string& line : Lines(text)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        EXPECT_TRUE(document.isObject()) << line;
        records.push_back(document.object());
    }
    return records;
}

std::vector<std::string> StepNames(const QJsonObject& record)
{
    std::vector<std::string> names;
    for (const QJsonValue& step : record.value("steps").toArray())
        names.push_back(step.toObject().value("step").toString().toStdString());
    return names;
}

void CliTest::SetUp()
{
    char pattern[] = "/tmp/morvex-cli-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    FScratch = pattern;
    ASSERT_FALSE(PlainImage().empty()) << MORVEX_PLAIN_IMAGE_FILE;
}

void CliTest::TearDown()
{
    // What the units saw explains most failures; the tail is enough.
    if (HasFailure()) {
        for (const auto& unit : Units)
            std::fprintf(stderr, "Unit on %s (tail):\n%s", unit->Terminal().c_str(), unit->DescribeTail(12).c_str());
    }
    Units.clear();
    std::error_code error;
    std::filesystem::remove_all(FScratch, error);
}

TTestUnit& CliTest::StartUnit(TUnitSimOptions options)
{
    options.UnitType = ImageUnitType();
    Units.push_back(std::make_unique<TTestUnit>(options));
    return *Units.back();
}

std::vector<std::string> CliTest::RunArguments(const TUnitSim& unit, std::vector<std::string> extra)
{
    std::vector<std::string> arguments = {"--port", unit.PortPath()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

bool CliTest::FlashHoldsTheImage(const TUnitSim& unit) const
{
    const std::vector<uint8_t>& plain = PlainImage();
    const std::vector<uint8_t> flash = unit.Flash();
    const uint32_t start = ModelFlashStart(ImageUnitType());
    const uint32_t end = std::min<uint32_t>(start + ModelFlashSize(ImageUnitType()), uint32_t(plain.size()));
    return end > start && flash.size() >= end &&
           std::equal(plain.begin() + start, plain.begin() + end, flash.begin() + start);
}

bool CliTest::FlashIsErased(const TUnitSim& unit)
{
    const std::vector<uint8_t> flash = unit.Flash();
    return std::all_of(flash.begin(), flash.end(), [](uint8_t byte) { return byte == 0xFF; });
}
