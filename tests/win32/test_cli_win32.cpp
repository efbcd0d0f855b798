// The command line's run log on Windows, under Wine or on a PC: its file
// opened by a Unicode name, a torn last line, a path that cannot be opened,
// and several programs appending to one log at once.
//
//   cli_win32_tests.exe [gtest options]
//   cli_win32_tests.exe --append=N --log=PATH --writer=W   (a writer child)
//
// The parallel case starts three copies of this program as writers: each
// appends N records through the command line's own run log, as N runs of
// the program would, without the cost of starting the program N times.
#include "cli/runlog.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>
#include <windows.h>

namespace {

constexpr int RecordsPerWriter = 200;
constexpr int Writers = 3;
const wchar_t* const StartEventName = L"morvex-cli-win32-tests-start";

std::string Utf8(const std::wstring& text) { return QString::fromStdWString(text).toStdString(); }

// A fresh folder of the test's own under the temporary folder, named so
// that it needs Unicode ("Jürgen", as a user's folder can be), removed
// with what it holds when the test ends.
class TUnicodeFolder {
public:
    TUnicodeFolder()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        FPath = std::wstring(temp) + L"morvex-J\u00fcrgen-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(FPath.c_str(), nullptr);
    }
    ~TUnicodeFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    std::wstring operator/(const wchar_t* name) const { return FPath + L"\\" + name; }

private:
    std::wstring FPath;
};

std::string ReadWhole(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteWhole(const std::wstring& path, const std::string& text)
{
    std::ofstream file(path.c_str(), std::ios::binary | std::ios::trunc);
    file << text;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// A record the size of a real run's, told apart by writer and number.
QJsonObject Record(int writer, int number)
{
    return QJsonObject{{"writer", writer},
                       {"number", number},
                       {"result", "failure"},
                       {"message", QString("Unable to open com port (win error code: 2)").repeated(8)}};
}

int AppendAsWriter(const std::string& log, int writer, int count)
{
    TRunLog runLog;
    const std::string error = runLog.Open(log);
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    // All writers start together, so that their records really do meet.
    if (HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, StartEventName)) {
        WaitForSingleObject(start, 10000);
        CloseHandle(start);
    }
    for (int number = 0; number < count; ++number) {
        const std::string failure = runLog.Append(Record(writer, number));
        if (!failure.empty()) {
            std::fprintf(stderr, "%s\n", failure.c_str());
            return 1;
        }
    }
    return 0;
}

TEST(Win32RunLog, OpensAndAppendsInAFolderWithAUnicodeName)
{
    const TUnicodeFolder folder;
    const std::wstring path = folder / L"runs.jsonl";
    TRunLog log;
    ASSERT_EQ(log.Open(Utf8(path)), "");
    ASSERT_EQ(log.Append(Record(0, 1)), "");
    ASSERT_EQ(log.Append(Record(0, 2)), "");
    const std::string text = ReadWhole(path);
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 2u) << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos) << "line ends are \\n alone";
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(lines[1])).object().value("number").toInt(), 2);
}

TEST(Win32RunLog, ARecordAfterATornLineStartsOnALineOfItsOwn)
{
    const TUnicodeFolder folder;
    const std::wstring path = folder / L"torn.jsonl";
    const std::string torn = "{\"result\":\"succ";
    WriteWhole(path, "{\"number\":0}\n" + torn);
    TRunLog log;
    ASSERT_EQ(log.Open(Utf8(path)), "");
    ASSERT_EQ(log.Append(Record(0, 7)), "");
    const std::vector<std::string> lines = Lines(ReadWhole(path));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], torn);
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(lines[2])).object().value("number").toInt(), 7);
}

TEST(Win32RunLog, APathThatCannotBeOpenedSaysWhyWithTheSystemError)
{
    const TUnicodeFolder folder;
    const std::wstring path = folder / L"no such folder\\runs.jsonl";
    TRunLog log;
    const std::string error = log.Open(Utf8(path));
    EXPECT_NE(error.find("Cannot open the log " + Utf8(path) + " for appending: "), std::string::npos) << error;
    EXPECT_NE(error.find("(win error code: 3)"), std::string::npos) << error;
    EXPECT_FALSE(log.IsOpen());
}

TEST(Win32RunLog, ThreeProgramsAppendingAtOnceLoseNoRecord)
{
    const TUnicodeFolder folder;
    const std::wstring path = folder / L"parallel.jsonl";
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, StartEventName);
    ASSERT_NE(start, nullptr);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::vector<PROCESS_INFORMATION> children;
    for (int writer = 1; writer <= Writers; ++writer) {
        std::wstring command = L"\"" + std::wstring(self) + L"\" --append=" + std::to_wstring(RecordsPerWriter) +
                               L" --writer=" + std::to_wstring(writer) + L" \"--log=" + path + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        ASSERT_TRUE(
            CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
            << GetLastError();
        children.push_back(child);
    }
    Sleep(500); // every writer has opened the log and waits
    SetEvent(start);
    for (PROCESS_INFORMATION& child : children) {
        EXPECT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
        DWORD code = 99;
        GetExitCodeProcess(child.hProcess, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    CloseHandle(start);

    std::map<std::pair<int, int>, int> seen;
    int damaged = 0;
    for (const std::string& line : Lines(ReadWhole(path))) {
        QJsonParseError error{};
        const QJsonObject record = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
        if (error.error != QJsonParseError::NoError ||
            record != Record(record["writer"].toInt(), record["number"].toInt()))
            ++damaged;
        else
            ++seen[{record["writer"].toInt(), record["number"].toInt()}];
    }
    EXPECT_EQ(damaged, 0);
    EXPECT_EQ(seen.size(), size_t(Writers * RecordsPerWriter));
    for (const auto& [record, count] : seen) EXPECT_EQ(count, 1) << record.first << "/" << record.second;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    std::string log;
    int writer = 0, append = -1;
    for (const QString& argument : arguments) {
        if (argument.startsWith("--append=")) append = argument.mid(9).toInt();
        if (argument.startsWith("--writer=")) writer = argument.mid(9).toInt();
        if (argument.startsWith("--log=")) log = argument.mid(6).toStdString();
    }
    if (append >= 0) return AppendAsWriter(log, writer, append);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
