// SPDX-License-Identifier: MIT
// A one-line progress bar on stderr for long transfers, with the time
// spent, the rate and the time still to go.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace spitool {

class Progress {
public:
    // shown: whether to draw at all (a terminal, or --progress).
    Progress(bool shown, const std::string &label, uint32_t total);
    ~Progress();

    void update(uint32_t done);
    // Ends the bar's line, leaving the bar as it stopped.
    void finish();

private:
    bool shown_;
    bool open_ = false;
    std::string label_;
    uint32_t total_;
    int last_percent_ = -1;
    std::chrono::steady_clock::time_point start_, last_draw_;
};

} // namespace spitool
