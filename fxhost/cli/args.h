// args.h - reading fxhost's command lines.
//
// Owns: Args, the small option reader every command uses (options before or after the
// operands, "--name value" or "--name=value"), and the readers of the values several
// commands share (whole numbers, times). Promises: a bad value or an unknown option is a
// HostError of kind Usage whose one line names the option and what it wants.
#pragma once

#include "hosterror.h"
#include "progress.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace fxhost::cli {

[[noreturn]] inline void Usage(const std::string& text) {
    throw HostError(ErrorKind::Usage, text);
}

inline long long ParseInt(const std::string& opt, const std::string& v, long long lo,
                          long long hi) {
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(v.c_str(), &end, 10);
    if (v.empty() || *end || errno || n < lo || n > hi) {
        Usage(opt + " wants a whole number from " + std::to_string(lo) + " to " +
              std::to_string(hi) + ", not '" + v + "'");
    }
    return n;
}

// A finite number, as strtod reads it.
inline double ParseNumber(const std::string& opt, const std::string& v) {
    char* end = nullptr;
    const double x = std::strtod(v.c_str(), &end);
    if (v.empty() || *end || !std::isfinite(x)) {
        Usage(opt + " wants a number, not '" + v + "'");
    }
    return x;
}

// --block W,H: thousandths of the frame, each from `least` to 250.
inline std::pair<int, int> ParseBlock(const std::string& v, int least) {
    const auto comma = v.find(',');
    if (comma == std::string::npos) {
        Usage("--block wants W,H in thousandths of the frame, not '" + v + "'");
    }
    return {int(ParseInt("--block", v.substr(0, comma), least, 250)),
            int(ParseInt("--block", v.substr(comma + 1), least, 250))};
}

// The flag the signal handlers set: long commands stop at the next frame when it is.
const std::atomic<bool>* Interrupted();

// Seconds, or [HH:]MM:SS[.frac], as ffmpeg's own options take them.
double ParseTime(const std::string& opt, const std::string& v);

class Args {
  public:
    Args(int argc, char** argv, int from) : args_(argv + from, argv + argc) {}
    bool flag(const char* name) {
        for (auto it = args_.begin(); it != args_.end(); ++it) {
            if (*it == name) {
                args_.erase(it);
                return true;
            }
        }
        return false;
    }
    // Whether the option is given, as NAME or NAME=VALUE, without taking it.
    bool has(const char* name) const {
        const std::string prefix = std::string(name) + "=";
        return std::any_of(args_.begin(), args_.end(), [&](const std::string& a) {
            return a == name || a.rfind(prefix, 0) == 0;
        });
    }
    std::optional<std::string> value(const char* name, const char* alias = nullptr) {
        for (auto it = args_.begin(); it != args_.end(); ++it) {
            const std::string& a = *it;
            if (a == name || (alias && a == alias)) {
                // An option in the value's place is a value forgotten, not a file named
                // "--proxy"; such a name can still be given as NAME=--proxy.
                const bool option =
                    it + 1 != args_.end() && (it + 1)->rfind("--", 0) == 0 && (it + 1)->size() > 2;
                if (it + 1 == args_.end() || option) {
                    Usage(std::string(name) + " needs a value");
                }
                std::string v = *(it + 1);
                args_.erase(it, it + 2);
                return v;
            }
            const std::string prefix = std::string(name) + "=";
            if (a.rfind(prefix, 0) == 0) {
                std::string v = a.substr(prefix.size());
                args_.erase(it);
                return v;
            }
        }
        return std::nullopt;
    }
    // What remains must be operands; at most `max` of them.
    std::vector<std::string> operands(std::size_t max) {
        for (const std::string& a : args_) {
            if (a.size() > 1 && a[0] == '-') {
                Usage("unknown option '" + a + "' (see --help)");
            }
        }
        if (args_.size() > max) {
            Usage("unexpected argument '" + args_[max] + "' (see --help)");
        }
        return args_;
    }

  private:
    std::vector<std::string> args_;
};

// --progress and --quiet, which every long command takes; `quiet` tells whether the command
// should also keep its closing line to itself.
inline media::ProgressMode ReadProgress(Args& a, bool& quiet) {
    const bool progress = a.flag("--progress");
    quiet = a.flag("--quiet");
    return quiet      ? media::ProgressMode::Never
           : progress ? media::ProgressMode::Always
                      : media::ProgressMode::Auto;
}

} // namespace fxhost::cli
