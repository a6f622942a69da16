#include "ErrorClassification.h"

#include "DebugTrace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

char e_strings[kMaxErrorCodes][kErrorTextSize];
int e_classification[kMaxErrorCodes];
const char* const szErrorClass[5] = { "NONE", "INFORMATION", "WARNING", "SERIOUS", "CRITICAL" };

namespace {

constexpr int kMaxLineChars = 299;

// Codes for which "NONE" is a valid severity.
bool mayBeNone(int code)
{
    for (int c : { 0, 20, 59, 73, 89, 138, 146, 160, 182 })
        if (c == code)
            return true;
    return false;
}

struct Field {
    std::string text;
    bool commaAfter;
};

// Fields separated by commas; runs of commas are one separator and the line
// end belongs to the last field.
std::vector<Field> splitFields(const char* line)
{
    std::vector<Field> fields;
    std::string current;
    for (const char* p = line; *p; ++p) {
        if (*p == ',') {
            if (!current.empty())
                fields.push_back({ current, true });
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty())
        fields.push_back({ current, false });
    return fields;
}

bool isBlank(const char* line)
{
    for (const char* p = line; *p; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
            return false;
    return true;
}

enum class LineResult { Accepted, Skipped, EndReading };

LineResult parseLine(const char* line)
{
    const std::vector<Field> f = splitFields(line);
    std::size_t next = 0;
    const long code = f.empty() ? 0 : std::strtol(f[next++].text.c_str(), nullptr, 10);
    if (code < 0 || code >= kMaxErrorCodes)
        return LineResult::EndReading;
    if (code == 0 && e_strings[0][0])
        return LineResult::Skipped;

    if (next >= f.size())
        return LineResult::EndReading;
    std::string text = f[next++].text;
    while (text.back() != '"' && next < f.size())
        text += "," + f[next++].text;
    if (text.size() < 2 || text.front() != '"' || text.back() != '"')
        return LineResult::EndReading;
    text = text.substr(1, text.size() - 2);
    if (text.size() > kErrorTextSize - 1)
        DPrintf("%s, %s[%d]: text of error %ld cut to %d characters\n", KVX_WHERE, code, kErrorTextSize - 1);
    std::snprintf(e_strings[code], kErrorTextSize, "%s", text.c_str());

    // The keyword must be followed by a comma: one that ends the line still
    // carries the line end, or has nothing after it, and matches nothing.
    if (next >= f.size() || !f[next].commaAfter)
        return LineResult::EndReading;
    for (int sev = 0; sev < 5; ++sev) {
        if (f[next].text == szErrorClass[sev]) {
            if (sev == kSevNone && !mayBeNone(static_cast<int>(code)))
                return LineResult::EndReading;
            e_classification[code] = sev;
            return LineResult::Accepted;
        }
    }
    return LineResult::EndReading;
}

} // namespace

int ReadErrorClassificationFile(const char* path)
{
    std::memset(e_strings, 0, sizeof e_strings);
    std::memset(e_classification, 0, sizeof e_classification);

    FILE* f = std::fopen(path, "rt");
    if (!f) {
        DPrintf("%s, %s[%d]: fopen(%s): %s\n", KVX_WHERE, path, std::strerror(errno));
        return 0;
    }
    char line[kMaxLineChars + 1];
    int linesRead = 0;
    int result = -1;
    while (std::fgets(line, sizeof line, f)) {
        ++linesRead;
        // Comments, and blank lines a technician may leave while editing.
        if (line[0] == '#' || isBlank(line))
            continue;
        if (parseLine(line) == LineResult::EndReading) {
            DPrintf("%s, %s[%d]: %s: reading ends at line %d\n", KVX_WHERE, path, linesRead);
            result = linesRead;
            break;
        }
    }
    std::fclose(f);
    return result;
}

int InitialiseErrorClassifications(const char* dir)
{
    const std::string path = std::string(dir) + "/KVXErrorClassification.txt";
    return ReadErrorClassificationFile(path.c_str());
}
