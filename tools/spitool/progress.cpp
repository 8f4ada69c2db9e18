// SPDX-License-Identifier: MIT
#include "progress.h"

#include <cstdio>

namespace spitool {

namespace {

constexpr int BAR_WIDTH = 30;

// "4.2s" under a minute, "3m07s" above.
std::string duration(double seconds)
{
    char buf[32];
    if (seconds < 60)
        std::snprintf(buf, sizeof(buf), "%.1fs", seconds);
    else
        std::snprintf(buf, sizeof(buf), "%lum%02lus", static_cast<unsigned long>(seconds / 60),
                      static_cast<unsigned long>(seconds) % 60);
    return buf;
}

} // namespace

Progress::Progress(bool shown, const std::string &label, uint32_t total)
    : shown_(shown && total > 0), label_(label), total_(total),
      start_(std::chrono::steady_clock::now())
{
}

Progress::~Progress()
{
    if (open_)
        std::fputc('\n', stderr);
}

void Progress::update(uint32_t done)
{
    if (!shown_)
        return;
    int percent = static_cast<int>(static_cast<uint64_t>(done) * 100 / total_);
    auto now = std::chrono::steady_clock::now();
    // Redrawn at each new percent, and twice a second for the times.
    if (percent == last_percent_ && now - last_draw_ < std::chrono::milliseconds(500))
        return;
    last_percent_ = percent;
    last_draw_ = now;
    int fill = percent * BAR_WIDTH / 100;
    char bar[BAR_WIDTH + 1];
    for (int i = 0; i < BAR_WIDTH; i++)
        bar[i] = i < fill ? '#' : '.';
    bar[BAR_WIDTH] = '\0';
    double elapsed =
        std::chrono::duration<double>(now - start_).count();
    std::string timing = duration(elapsed) + " elapsed";
    if (elapsed > 0 && done > 0) {
        double rate = done / elapsed;
        char buf[48];
        std::snprintf(buf, sizeof(buf), ", %.0f words/s", rate);
        timing += buf;
        if (done < total_)
            timing += ", " + duration((total_ - done) / rate) + " left";
    }
    // Trailing blanks wipe what a longer line before left behind.
    std::fprintf(stderr, "\r%s [%s] %3d%% %u/%u words, %s   ", label_.c_str(), bar, percent, done,
                 total_, timing.c_str());
    std::fflush(stderr);
    open_ = true;
}

void Progress::finish()
{
    if (!open_)
        return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
    open_ = false;
}

} // namespace spitool
