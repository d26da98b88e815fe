// analysiscommands.cpp - fxhost track's options, and its closing line.
#include "analysiscommands.h"

#include "mediainput.h"

#if FXHOST_WITH_ANALYSIS
#include "trackregion.h"
#endif

#include <cstdio>

namespace fxhost::cli {

const char* const kTrackHelp =
    "usage: fxhost track INPUT --region L,T,W,H [--frame N | -ss TIME] -o TRACK.json [options]\n"
    "\n"
    "Follows the region drawn on one frame of INPUT (left, top, width and height as fractions\n"
    "of the frame; the frame is N, or the first at or after TIME, default the first) forward\n"
    "and backward through the whole clip, and writes a track file: per frame, the region to\n"
    "pixelate, a confidence and a review mark (fxhost render --track reads it). Where the\n"
    "subject cannot be followed (hidden, out of the frame, lost) the region holds its last\n"
    "good place and grows, and the frame is marked for review; the command then ends with\n"
    "one line naming the frames to look at, and exit status 9.\n"
    "\n"
    "  -o, --output FILE     the file to write (kept if it exists, unless -y)\n"
    "  -y                    replace an existing output\n"
    "  --region L,T,W,H      the region on the frame it is drawn on, inside the frame\n"
    "  --frame N             the frame the region is drawn on (from 0)\n"
    "  -ss TIME              or its time (seconds, or [HH:]MM:SS[.frac])\n"
    "  --format json|mlt     a track file (default), or an MLT document applying the track to\n"
    "                        tessera.so as keyframes (melt, Kdenlive)\n"
    "  --block W,H           with --format mlt: the block size in thousandths of the frame\n"
    "                        (default 10,10)\n"
    "  --opacity P           with --format mlt: the original's share through the mosaic, 0-100\n"
    "  --tracker csrt|kcf    OpenCV's tracker to follow with (default csrt: it keeps the\n"
    "                        subject more often; kcf is faster)\n"
    "  --analysis-width N    follow frames wider than N pixels downscaled to N (default 640;\n"
    "                        0: at the clip's size)\n"
    "  --progress            show progress even when standard error is not a terminal\n"
    "  --quiet               show neither progress nor the closing line\n";

#if FXHOST_WITH_ANALYSIS

namespace {

void ReadRegion(const std::string& v, analysis::TrackRequest& rq) {
    char tail = 0;
    if (std::sscanf(v.c_str(), "%lf,%lf,%lf,%lf%c", &rq.left, &rq.top, &rq.width, &rq.height,
                    &tail) != 4) {
        Usage("--region wants four numbers L,T,W,H (fractions of the frame), not '" + v + "'");
    }
}

void ReadMltOptions(Args& a, analysis::TrackRequest& rq) {
    if (auto v = a.value("--format")) {
        if (*v != "json" && *v != "mlt") {
            Usage("--format wants json or mlt, not '" + *v + "'");
        }
        rq.mlt = *v == "mlt";
    }
    if (auto v = a.value("--block")) {
        const auto comma = v->find(',');
        if (comma == std::string::npos) {
            Usage("--block wants W,H in thousandths of the frame, not '" + *v + "'");
        }
        rq.blockWidth = int(ParseInt("--block", v->substr(0, comma), 1, 250));
        rq.blockHeight = int(ParseInt("--block", v->substr(comma + 1), 1, 250));
    }
    if (auto v = a.value("--opacity")) {
        rq.opacity = int(ParseInt("--opacity", *v, 0, 100));
    }
}

} // namespace

int Track(Args& a) {
    media::SetInputPolicy(false, Interrupted());
    analysis::TrackRequest rq;
    auto out = a.value("--output", "-o");
    rq.overwrite = a.flag("-y");
    const auto region = a.value("--region");
    if (auto v = a.value("--frame")) {
        rq.frame = ParseInt("--frame", *v, 0, INT32_MAX);
    }
    if (auto v = a.value("-ss")) {
        rq.startTime = ParseTime("-ss", *v);
    }
    ReadMltOptions(a, rq);
    if (auto v = a.value("--tracker")) {
        if (*v != "csrt" && *v != "kcf") {
            Usage("--tracker wants csrt or kcf, not '" + *v + "'");
        }
        rq.tracker = *v == "kcf" ? analysis::TrackerChoice::Kcf : analysis::TrackerChoice::Csrt;
    }
    if (auto v = a.value("--analysis-width")) {
        rq.analysisWidth = int(ParseInt("--analysis-width", *v, 0, 1 << 16));
    }
    const bool progress = a.flag("--progress"), quiet = a.flag("--quiet");
    rq.progress = quiet      ? media::ProgressMode::Never
                  : progress ? media::ProgressMode::Always
                             : media::ProgressMode::Auto;
    const auto ops = a.operands(1);
    if (ops.empty()) {
        Usage("track needs an INPUT");
    }
    if (!region) {
        Usage("track needs the region to follow: --region L,T,W,H");
    }
    if (!out) {
        Usage("track needs an output: -o TRACK.json");
    }
    if (rq.frame && rq.startTime) {
        Usage("--frame and -ss cannot be combined");
    }
    ReadRegion(*region, rq);
    rq.input = ops[0];
    rq.output = *out;
    rq.interrupted = Interrupted();
    const analysis::TrackSummary done = analysis::TrackRegion(rq);
    if (done.review == 0) {
        if (!quiet) {
            std::fprintf(stderr, "fxhost: all %lld frames followed; none needs a look\n",
                         static_cast<long long>(done.frames));
        }
        return 0;
    }
    if (!quiet) {
        std::fprintf(stderr,
                     "fxhost: %lld of %lld frames need a look (marked for review in %s): %s\n",
                     static_cast<long long>(done.review), static_cast<long long>(done.frames),
                     rq.output.c_str(), done.reviewSpans.c_str());
    }
    return int(ErrorKind::Review);
}

#else

int Track(Args&) {
    throw HostError(ErrorKind::Unsupported,
                    "track: this fxhost was built without analysis (TESSERA_BUILD_ANALYSIS=OFF)");
}

#endif

} // namespace fxhost::cli
