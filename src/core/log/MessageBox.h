// Message boxes asked for by core code. The GUI installs a sink that shows
// real boxes; tests install a recorder that answers from a script. Without a
// sink the box is written to standard error and answered with -1 (dismissed).
#pragma once

#include <string>
#include <vector>

enum class BoxIcon { Information, Warning, Critical };

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows a modal box and returns the index of the button pressed, or -1
    // when the box was dismissed without one. GUI thread.
    virtual int show(BoxIcon icon, const std::string& caption, const std::string& text,
        const std::vector<std::string>& buttons, int defaultButton, int escapeButton)
        = 0;
};

// Installs the sink used by ShowBox (null: standard error). Not thread-safe:
// set it before any test thread starts.
void SetMessageSink(MessageSink* sink);
MessageSink* GetMessageSink();

int ShowBox(BoxIcon icon, const std::string& caption, const std::string& text, const std::vector<std::string>& buttons,
    int defaultButton = 0, int escapeButton = -1);

// A critical box with the single button "Quit" for a file the program cannot
// work without. Pressing Quit ends the process with status 1; dismissing it
// returns and lets the caller go on.
void ShowQuitBox(const std::string& caption, const std::string& text);

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
