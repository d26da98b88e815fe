// progress.h - the progress line of a long command (render, track).
//
// Owns: Progress, one line on standard error (frame, total, fps, time left) rewritten in
// place on a terminal, or a line a second when asked for elsewhere. Promises: nothing is
// printed in ProgressMode::Never, nor in Auto when standard error is not a terminal; a
// command that stops half-way still leaves the cursor at the start of a fresh line.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace fxhost::media {

enum class ProgressMode { Auto, Always, Never };

class Progress {
  public:
    Progress(ProgressMode mode, std::int64_t total) : total_(total) {
        tty_ = isatty(2);
        on_ = mode == ProgressMode::Always || (mode == ProgressMode::Auto && tty_);
        start_ = last_ = std::chrono::steady_clock::now();
    }
    // A render that stops half-way ends the progress line, so the error starts on its own.
    ~Progress() {
        if (shown_ && !ended_ && tty_) {
            std::fputc('\n', stderr);
        }
    }
    void update(std::int64_t done, bool final = false) {
        if (!on_) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        const double since = std::chrono::duration<double>(now - last_).count();
        if (!final && since < (tty_ ? 0.25 : 1.0)) {
            return;
        }
        last_ = now;
        shown_ = true;
        ended_ = final;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        const double fps = elapsed > 0 ? double(done) / elapsed : 0;
        // The last line tells the whole time, the encoder's flush included.
        const long left = final     ? long(elapsed + 0.5)
                          : fps > 0 ? long(double(total_ - done) / fps + 0.5)
                                    : 0;
        std::fprintf(stderr, "%sframe %lld/%lld  %.1f fps  %s %ld:%02ld%s", tty_ ? "\r" : "",
                     (long long)done, (long long)total_, fps, final ? "done in" : "time left",
                     left / 60, left % 60, tty_ && !final ? "   " : "\n");
        std::fflush(stderr);
    }

  private:
    std::int64_t total_;
    bool tty_ = false, on_ = false, shown_ = false, ended_ = false;
    std::chrono::steady_clock::time_point start_, last_;
};

} // namespace fxhost::media
