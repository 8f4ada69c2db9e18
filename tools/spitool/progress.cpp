#include "progress.h"

#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace spitool {

namespace {
constexpr int BAR_WIDTH = 30;
}

bool stderr_is_terminal()
{
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

Progress::Progress(bool shown, const std::string &label, uint32_t total)
    : shown_(shown && total > 0), label_(label), total_(total)
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
    if (percent == last_percent_)
        return;
    last_percent_ = percent;
    int fill = percent * BAR_WIDTH / 100;
    char bar[BAR_WIDTH + 1];
    for (int i = 0; i < BAR_WIDTH; i++)
        bar[i] = i < fill ? '#' : '.';
    bar[BAR_WIDTH] = '\0';
    std::fprintf(stderr, "\r%s [%s] %3d%% %u/%u words", label_.c_str(), bar, percent, done, total_);
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
