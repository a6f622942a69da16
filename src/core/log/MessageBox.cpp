#include "MessageBox.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
MessageSink* g_sink = nullptr;
}

void SetMessageSink(MessageSink* sink)
{
    g_sink = sink;
}

MessageSink* GetMessageSink()
{
    return g_sink;
}

int ShowBox(BoxIcon icon, const std::string& caption, const std::string& text, const std::vector<std::string>& buttons,
    int defaultButton, int escapeButton)
{
    if (g_sink)
        return g_sink->show(icon, caption, text, buttons, defaultButton, escapeButton);
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return -1;
}

void ShowQuitBox(const std::string& caption, const std::string& text)
{
    if (ShowBox(BoxIcon::Critical, caption, text, { "Quit" }, 0, -1) == 0)
        std::exit(1);
}

std::string Format(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string s;
    if (n > 0) {
        s.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(s.data(), s.size(), fmt, ap2);
        s.resize(static_cast<std::size_t>(n));
    }
    va_end(ap2);
    return s;
}
