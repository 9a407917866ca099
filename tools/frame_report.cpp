#include "frame_report.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace capture {

namespace {

constexpr size_t RATE_WINDOW = 10;  // frames over which the rate is measured

std::string clockText(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

}  // namespace

FrameReport::FrameReport(const Options& options)
    : options_(options),
      progress_(!options.json && !options.quiet && options.frames > 0 && isatty(STDOUT_FILENO)) {}

void FrameReport::frame(FrameStats& stats, Clock::time_point arrival) {
    if (count_++ == 0) first_ = arrival;
    recent_.push_back(arrival);
    if (recent_.size() > RATE_WINDOW + 1) recent_.pop_front();
    const double span = std::chrono::duration<double>(recent_.back() - recent_.front()).count();
    stats.fps = recent_.size() > 1 && span > 0 ? static_cast<double>(recent_.size() - 1) / span : 0;
    if (options_.quiet) return;
    if (options_.json) {
        std::printf("%s\n", toJson(stats).dump().c_str());
    } else if (progress_) {
        const double left =
            stats.fps > 0 ? static_cast<double>(options_.frames - count_) / stats.fps : 0.0;
        char head[96];
        std::snprintf(head, sizeof head, "frames %ld/%ld  %.1f fps  %s left  ", count_,
                      options_.frames, stats.fps, clockText(left).c_str());
        std::string line = head + formatMeasures(stats);
        // Longer than the terminal is wide, it would wrap instead of being
        // rewritten in place.
        winsize ws{};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 &&
            line.size() >= ws.ws_col) {
            line.resize(ws.ws_col - 1u);
        }
        std::printf("\r\033[K%s", line.c_str());
    } else {
        std::printf("%s\n", formatLine(stats).c_str());
    }
    std::fflush(stdout);
}

void FrameReport::finish(bool interrupted, const std::string& outDir, size_t files) {
    if (options_.quiet || options_.json) return;
    if (progress_ && count_ > 0) std::printf("\n");
    const double seconds =
        count_ > 1 ? std::chrono::duration<double>(recent_.back() - first_).count() : 0.0;
    std::printf("%s%ld frame%s", interrupted ? "interrupted after " : "captured ", count_,
                count_ == 1 ? "" : "s");
    if (seconds > 0) {
        std::printf(" in %.2f s (%.1f fps)", seconds, static_cast<double>(count_ - 1) / seconds);
    }
    if (!outDir.empty()) std::printf("; %zu files in %s", files, outDir.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace capture
