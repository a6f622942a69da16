// Test helpers for real files in a private temporary directory, and a
// message sink that records boxes and answers them from a script.
#pragma once

#include "ConfigRecord.h"
#include "MessageBox.h"

#include <deque>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// The content of the golden file at `path`. With KVX_UPDATE_GOLDEN set, it
// is first written from `actual` (review the diff before committing).
std::string GoldenFile(const std::string& path, const std::string& actual);

// A configuration record as the program saves it: the defaults, the magic
// and the version.
_testconfig ValidConfig();
// The bytes of a configuration file holding `cfg`.
std::string ConfigBytes(const _testconfig& cfg);

struct RecordedBox {
    BoxIcon icon;
    std::string caption;
    std::string text;
    std::vector<std::string> buttons;
};

// Installs itself as the message sink for its lifetime. Answers each box
// with the next scripted index, or -1 (dismissed) when the script is empty.
class RecordingSink : public MessageSink {
public:
    RecordingSink();
    ~RecordingSink() override;
    int show(BoxIcon icon, const std::string& caption, const std::string& text, const std::vector<std::string>& buttons,
        int defaultButton, int escapeButton) override;

    std::vector<RecordedBox> boxes;
    std::deque<int> answers;

private:
    MessageSink* m_previous;
};
