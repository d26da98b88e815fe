// args.cpp - the value readers of args.h that need FFmpeg's parsers.
#include "args.h"

extern "C" {
#include <libavutil/parseutils.h>
}

namespace fxhost::cli {

double ParseTime(const std::string& v) {
    std::int64_t us = 0;
    if (av_parse_time(&us, v.c_str(), 1) < 0 || us < 0) {
        throw CLI::ValidationError("wants a time (seconds, or [HH:]MM:SS[.frac]), not '" + v + "'");
    }
    return double(us) / 1e6;
}

} // namespace fxhost::cli
