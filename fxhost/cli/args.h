// args.h - what fxhost's commands share of their command lines.
//
// Owns: the options several commands declare in their tables (the output, progress), the
// readers of fxhost's own values (times, sizes), and Command, what main.cpp runs once the
// line is read. Each command's table follows commandline.h's conventions. Promises: a bad
// value is refused in one line naming the option and what it wants (exit status 2); a
// refusal found after the line is read (options that cannot be combined) is a HostError
// of kind Usage.
#pragma once

#include "commandline.h"
#include "hosterror.h"
#include "progress.h"

#include <atomic>
#include <functional>
#include <string>
#include <utility>

namespace fxhost::cli {

[[noreturn]] inline void Usage(const std::string& text) {
    throw HostError(ErrorKind::Usage, text);
}

// A command of fxhost: its table, and what runs it once the command line is read into it.
using Command = std::pair<CLI::App*, std::function<int()>>;

// The flag the signal handlers set: long commands stop at the next frame when it is.
const std::atomic<bool>* Interrupted();

// Seconds, or [HH:]MM:SS[.frac], as ffmpeg's own options take them.
double ParseTime(const std::string& v);

// -o/--output FILE, which the command needs, and -y.
template <class File>
void AddOutput(CLI::App& cmd, File& file, bool& overwrite, const std::string& yHelp) {
    cmd.add_option("-o,--output", file, "the file to write (kept if it exists, unless -y)")
        ->type_name("FILE")
        ->required();
    cmd.add_flag("-y", overwrite, yHelp);
}

// --progress and --quiet, which every long command takes; `quiet` also tells whether the
// command should keep its closing line to itself.
struct ProgressChoice {
    bool always = false, quiet = false;
    media::ProgressMode mode() const {
        return quiet    ? media::ProgressMode::Never
               : always ? media::ProgressMode::Always
                        : media::ProgressMode::Auto;
    }
};
inline void AddProgress(CLI::App& cmd, ProgressChoice& p, const std::string& quietHelp) {
    cmd.add_flag("--progress", p.always,
                 "show progress even when standard error is not a terminal");
    cmd.add_flag("--quiet", p.quiet, quietHelp);
}

} // namespace fxhost::cli
