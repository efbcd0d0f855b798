// The exit codes a bench script reads: the program's one table against the
// guide's and the manual page's lists. Each document lists every code of the
// table and no other, and begins each code's entry with the table's meaning
// (it may say more after it), so a new code needs only a row in the table
// and an entry in each document.
#include "clifixture.h"

#include "cli/exitcodes.h"

#include <algorithm>
#include <map>
#include <regex>
#include <set>

namespace {

// Code -> the entry's text as it reads, markup removed, white space collapsed.
using TDocumentedCodes = std::map<int, std::string>;

std::string Collapsed(const std::string& text)
{
    std::string collapsed;
    for (char c : text) {
        const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (!space)
            collapsed += c;
        else if (!collapsed.empty() && collapsed.back() != ' ')
            collapsed += ' ';
    }
    if (!collapsed.empty() && collapsed.back() == ' ') collapsed.pop_back();
    return collapsed;
}

void Add(TDocumentedCodes& codes, int code, const std::string& text, const std::string& document)
{
    if (!codes.emplace(code, Collapsed(text)).second) ADD_FAILURE() << document << " lists exit code " << code << " twice";
}

// The guide's table: the rows after "| Code | Meaning |" up to the first
// line that is not a row; code spans read as plain text.
TDocumentedCodes GuideCodes(const std::string& path)
{
    TDocumentedCodes codes;
    const std::vector<std::string> lines = Lines(ReadText(path));
    auto line = std::find(lines.begin(), lines.end(), "| Code | Meaning |");
    EXPECT_NE(line, lines.end()) << path << " has no exit-code table";
    if (line == lines.end()) return codes;
    const std::regex row("\\| *(\\d+) *\\| *(.*?) *\\|");
    for (line += 2; line != lines.end() && line->rfind("|", 0) == 0; ++line) {
        std::smatch match;
        if (!std::regex_match(*line, match, row)) {
            ADD_FAILURE() << path << ": not a code and its meaning: " << *line;
            continue;
        }
        std::string meaning = match[2];
        std::erase(meaning, '`');
        Add(codes, std::stoi(match[1]), meaning, path);
    }
    return codes;
}

// A roff line as it reads: a font macro gives its arguments (a quoted one
// with its spaces; the two-font macros run them together), "\-" is a
// hyphen and "\&" nothing.
std::string RoffText(const std::string& line)
{
    std::string text = line;
    static const std::regex fontMacro("\\.(B|I|BR|RB|BI|IB|IR|RI)(?: (.*))?");
    std::smatch match;
    if (std::regex_match(line, match, fontMacro)) {
        std::vector<std::string> words;
        bool quoted = false, inWord = false;
        for (char c : std::string(match[2])) {
            if (c == '"') {
                quoted = !quoted;
                if (!inWord) words.emplace_back();
                inWord = true;
            } else if (c == ' ' && !quoted) {
                inWord = false;
            } else {
                if (!inWord) words.emplace_back();
                inWord = true;
                words.back() += c;
            }
        }
        const std::string separator = match[1].length() == 2 ? "" : " ";
        text.clear();
        for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
    }
    for (size_t at; (at = text.find("\\-")) != std::string::npos;) text.replace(at, 2, "-");
    for (size_t at; (at = text.find("\\&")) != std::string::npos;) text.erase(at, 2);
    return text;
}

// The manual page's EXIT STATUS section: each ".TP" tagged ".B <code>", its
// text up to the next tag, paragraph or section.
TDocumentedCodes ManualCodes(const std::string& path)
{
    TDocumentedCodes codes;
    const std::vector<std::string> lines = Lines(ReadText(path));
    auto line = std::find(lines.begin(), lines.end(), ".SH EXIT STATUS");
    EXPECT_NE(line, lines.end()) << path << " has no EXIT STATUS section";
    if (line == lines.end()) return codes;
    static const std::regex tag("\\.B (\\d+)");
    static const std::regex fontMacro("\\.(B|I|BR|RB|BI|IB|IR|RI)( .*)?");
    int code = -1;
    std::string entry;
    const auto finish = [&] {
        if (code >= 0) Add(codes, code, entry, path);
        code = -1;
        entry.clear();
    };
    for (++line; line != lines.end() && line->rfind(".SH", 0) != 0; ++line) {
        std::smatch match;
        if (*line == ".TP") {
            finish();
            if (++line == lines.end()) break;
            if (std::regex_match(*line, match, tag)) code = std::stoi(match[1]);
        } else if (line->rfind(".\\\"", 0) == 0) {
            // a comment
        } else if (line->rfind(".", 0) == 0 && !std::regex_match(*line, fontMacro)) {
            finish();
        } else if (code >= 0) {
            entry += RoffText(*line) + " ";
        }
    }
    finish();
    return codes;
}

void ExpectTheProgramsCodes(const TDocumentedCodes& documented, const std::string& document)
{
    std::set<int> known;
    for (const TExitCodeMeaning& entry : ExitCodeMeanings()) {
        known.insert(entry.Code);
        const auto found = documented.find(entry.Code);
        if (found == documented.end()) {
            ADD_FAILURE() << document << " does not list exit code " << entry.Code;
            continue;
        }
        EXPECT_TRUE(found->second.starts_with(entry.Meaning))
            << document << ", exit code " << entry.Code << ":\n  documented: " << found->second
            << "\n  the program: " << entry.Meaning;
    }
    for (const auto& [code, text] : documented)
        EXPECT_TRUE(known.count(code)) << document << " lists exit code " << code << " (" << text
                                       << "), which the program does not have";
}

// Codes are never renumbered or reused: the table counts up from 0, and a
// new code goes at its end.
TEST(ExitCodes, TheTableCountsUpFromZeroWithAMeaningForEach)
{
    int expected = 0;
    for (const TExitCodeMeaning& entry : ExitCodeMeanings()) {
        EXPECT_EQ(entry.Code, expected++);
        EXPECT_GT(std::string(entry.Meaning).size(), 0u) << entry.Code;
    }
    EXPECT_GT(expected, int(ecLogNotWritten));
}

TEST(ExitCodes, TheGuideListsTheProgramsCodesAndMeanings)
{
    ExpectTheProgramsCodes(GuideCodes(MORVEX_SOURCE_DIR "/docs/command-line.md"), "docs/command-line.md");
}

TEST(ExitCodes, TheManualPageListsTheProgramsCodesAndMeanings)
{
    ExpectTheProgramsCodes(ManualCodes(MORVEX_SOURCE_DIR "/docs/man/morvex-flash-cli.1"),
                           "docs/man/morvex-flash-cli.1");
}

} // namespace
