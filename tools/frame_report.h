// ozr-capture: what is printed per frame: a text line, a JSON line, or on
// a terminal with a known frame count one progress line rewritten in place.
#pragma once

#include <chrono>
#include <deque>

#include "capture_options.h"
#include "frame_stats.h"

namespace capture {

class FrameReport {
public:
    using Clock = std::chrono::steady_clock;

    explicit FrameReport(const Options& options);

    // Sets stats.fps from the arrival times of the last frames, then prints.
    void frame(FrameStats& stats, Clock::time_point arrival);
    // Ends the progress line, and prints the closing summary (text only).
    void finish(bool interrupted, const std::string& outDir, size_t files);

    long frames() const { return count_; }

private:
    const Options& options_;
    bool progress_;
    long count_ = 0;
    Clock::time_point first_{};
    std::deque<Clock::time_point> recent_;  // arrival times for the rate
};

}  // namespace capture
