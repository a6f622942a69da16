// A user at a real X display, played through xdotool: finds windows by their
// title, types into them, walks the menu bar with the keyboard, clicks,
// takes screenshots (ImageMagick's import) and reads the clipboard (xclip).
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

inline std::string CommandOutput(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// Polls `done` every 50 ms for at most `seconds`.
inline bool WaitUntil(const std::function<bool()>& done, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;

    std::size_t pixels() const { return rgb.size() / 3; }
    // How many pixels are clearly of one primary: that channel bright, the
    // other two dark.
    std::size_t countOf(int channel) const
    {
        std::size_t n = 0;
        for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
            const int c[3] = { rgb[i], rgb[i + 1], rgb[i + 2] };
            bool others = true;
            for (int k = 0; k < 3; ++k)
                if (k != channel && c[k] >= 100)
                    others = false;
            if (c[channel] > 150 && others)
                ++n;
        }
        return n;
    }
    double greenShare() const { return pixels() ? double(countOf(1)) / double(pixels()) : 0; }
    double redShare() const { return pixels() ? double(countOf(0)) / double(pixels()) : 0; }
};

class Desktop {
public:
    // Empty when the display and every tool are there, else what is missing.
    static std::string missing()
    {
        if (!std::getenv("DISPLAY"))
            return "an X display (run under xvfb-run)";
        for (const char* tool : { "xdotool", "xclip", "import" })
            if (std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) != 0)
                return tool;
        return {};
    }

    // The first visible window whose title matches the extended regular
    // expression `pattern`, or empty.
    std::string window(const std::string& pattern) const
    {
        const std::string ids = CommandOutput("xdotool search --onlyvisible --name '" + pattern + "' 2>/dev/null");
        return ids.substr(0, ids.find('\n'));
    }
    std::string waitForWindow(const std::string& pattern, double seconds) const
    {
        std::string id;
        WaitUntil([&] { return !(id = window(pattern)).empty(); }, seconds);
        return id;
    }
    bool waitUntilGone(const std::string& pattern, double seconds) const
    {
        return WaitUntil([&] { return window(pattern).empty(); }, seconds);
    }

    // Gives `id` the keyboard and sends an xdotool command sequence to it
    // ("key alt", "type text").
    bool keys(const std::string& id, const std::string& sequence) const
    {
        return !id.empty() && std::system(("xdotool windowfocus --sync " + id + " " + sequence).c_str()) == 0;
    }
    bool click(const std::string& id, int x, int y) const
    {
        return !id.empty()
            && std::system(("xdotool mousemove --sync --window " + id + " " + std::to_string(x) + " "
                   + std::to_string(y) + " click 1")
                               .c_str())
            == 0;
    }
    bool clickMiddle(const std::string& id) const
    {
        const std::string size = CommandOutput("xdotool getwindowgeometry --shell " + id + " 2>/dev/null");
        const auto w = size.find("WIDTH="), h = size.find("HEIGHT=");
        if (w == std::string::npos || h == std::string::npos)
            return false;
        return click(id, std::atoi(size.c_str() + w + 6) / 2, std::atoi(size.c_str() + h + 7) / 2);
    }
    // Opens menu `menu` (0 = the first in the bar) of window `id` with Alt
    // and the arrow keys and chooses its `item`-th enabled entry (1 = the
    // first).
    bool chooseMenu(const std::string& id, int menu, int item) const
    {
        std::string sequence = "key";
        for (int i = 0; i < menu; ++i)
            sequence += " Right";
        for (int i = 0; i < item; ++i)
            sequence += " Down";
        return keys(id, "key alt") && keys(id, sequence + " Return");
    }

    Screenshot screenshot(const std::string& id) const
    {
        Screenshot shot;
        const std::string ppm = CommandOutput("import -silent -window " + id + " -depth 8 ppm:- 2>/dev/null");
        int maxval = 0, used = 0;
        if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &shot.width, &shot.height, &maxval, &used) != 3 || maxval != 255)
            return {};
        const std::size_t size = std::size_t(shot.width) * std::size_t(shot.height) * 3;
        // One whitespace byte ends the header.
        if (ppm.size() < std::size_t(used) + 1 + size)
            return {};
        shot.rgb.assign(ppm.begin() + used + 1, ppm.begin() + used + 1 + long(size));
        return shot;
    }

    std::string clipboard() const { return CommandOutput("xclip -o -selection clipboard 2>/dev/null"); }
};
