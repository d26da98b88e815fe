// analysiscommands.cpp - fxhost track's and detect's options, and their closing lines.
#include "analysiscommands.h"

#include "mediainput.h"

#if FXHOST_WITH_ANALYSIS
#include "detectfaces.h"
#include "trackregion.h"
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>

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

const char* const kDetectHelp =
    "usage: fxhost detect INPUT --faces -o TRACK.json [options]\n"
    "\n"
    "Finds every face in INPUT and writes a track file that hides them (fxhost render --track\n"
    "reads it): faces are searched for on every Nth frame and followed from frame to frame in\n"
    "between; a face first found on a search is followed back over the frames before it, and\n"
    "a face no longer found stays hidden for the hold time. Frames where a face could not be\n"
    "followed (its region held and grown instead) are marked for review; the command then\n"
    "ends with one line naming them, and exit status 9. The model is MediaPipe's BlazeFace\n"
    "(scripts/install-face-model.sh installs it).\n"
    "\n"
    "  -o, --output FILE     the file to write (kept if it exists, unless -y)\n"
    "  -y                    replace an existing output\n"
    "  --faces               what to find (faces are all there is so far)\n"
    "  --every N             search on every Nth frame (default 5; 1: every frame)\n"
    "  --margin F            the region reaches F of the face's size past each side\n"
    "                        (default 0.25)\n"
    "  --hold S              a face no longer found stays hidden S seconds (default 1)\n"
    "  --threshold P         the score 0..1 a face needs (default 0.5; lower finds more)\n"
    "  --small-faces         also search the frame in overlapping tiles: finds faces much\n"
    "                        smaller than the frame, several times slower\n"
    "  --model FILE          the BlazeFace ONNX model (default: the installed one)\n"
    "  --analysis-width N    search and follow frames wider than N pixels downscaled to N\n"
    "                        (default 640; 0: at the clip's size)\n"
    "  --format json|mlt     a track file (default), or an MLT document applying the track to\n"
    "                        tessera.so as keyframes, one filter per face (melt, Kdenlive)\n"
    "  --block W,H           with --format mlt: the block size in thousandths of the frame\n"
    "  --opacity P           with --format mlt: the original's share through the mosaic, 0-100\n"
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

// -o, -y and the MLT options, which both commands share.
analysis::TrackOutput ReadOutput(Args& a, const char* command) {
    analysis::TrackOutput out;
    const auto file = a.value("--output", "-o");
    out.overwrite = a.flag("-y");
    if (auto v = a.value("--format")) {
        if (*v != "json" && *v != "mlt") {
            Usage("--format wants json or mlt, not '" + *v + "'");
        }
        out.mlt = *v == "mlt";
    }
    if (auto v = a.value("--block")) {
        std::tie(out.blockWidth, out.blockHeight) = ParseBlock(*v, 1);
    }
    if (auto v = a.value("--opacity")) {
        out.opacity = int(ParseInt("--opacity", *v, 0, 100));
    }
    if (!file) {
        Usage(std::string(command) + " needs an output: -o TRACK.json");
    }
    out.file = *file;
    return out;
}

int AnalysisWidth(Args& a) {
    const auto v = a.value("--analysis-width");
    return v ? int(ParseInt("--analysis-width", *v, 0, 1 << 16)) : 640;
}

// The closing line; exit status 9 when some frames need a look.
int Closing(bool quiet, const std::string& done, std::int64_t review, std::int64_t frames,
            const std::filesystem::path& output, const std::string& spans) {
    if (!quiet) {
        if (review == 0) {
            std::fprintf(stderr, "fxhost: %s; no frame needs a look\n", done.c_str());
        } else {
            std::fprintf(stderr,
                         "fxhost: %s; %lld of %lld frames need a look (marked for review in "
                         "%s): %s\n",
                         done.c_str(), static_cast<long long>(review),
                         static_cast<long long>(frames), output.c_str(), spans.c_str());
        }
    }
    return review == 0 ? 0 : int(ErrorKind::Review);
}

} // namespace

int Track(Args& a) {
    media::SetInputPolicy(false, Interrupted());
    analysis::TrackRequest rq;
    const auto region = a.value("--region");
    if (!region) {
        Usage("track needs the region to follow: --region L,T,W,H");
    }
    rq.output = ReadOutput(a, "track");
    if (auto v = a.value("--frame")) {
        rq.frame = ParseInt("--frame", *v, 0, INT32_MAX);
    }
    if (auto v = a.value("-ss")) {
        rq.startTime = ParseTime("-ss", *v);
    }
    if (auto v = a.value("--tracker")) {
        if (*v != "csrt" && *v != "kcf") {
            Usage("--tracker wants csrt or kcf, not '" + *v + "'");
        }
        rq.tracker = *v == "kcf" ? analysis::TrackerChoice::Kcf : analysis::TrackerChoice::Csrt;
    }
    rq.analysisWidth = AnalysisWidth(a);
    bool quiet = false;
    rq.progress = ReadProgress(a, quiet);
    const auto ops = a.operands(1);
    if (ops.empty()) {
        Usage("track needs an INPUT");
    }
    if (rq.frame && rq.startTime) {
        Usage("--frame and -ss cannot be combined");
    }
    ReadRegion(*region, rq);
    rq.input = ops[0];
    rq.interrupted = Interrupted();
    const analysis::TrackSummary done = analysis::TrackRegion(rq);
    return Closing(quiet, "followed through " + std::to_string(done.frames) + " frames",
                   done.review, done.frames, rq.output.file, done.reviewSpans);
}

int Detect(Args& a) {
    media::SetInputPolicy(false, Interrupted());
    if (!a.flag("--faces")) {
        Usage("detect needs what to find: --faces");
    }
    analysis::DetectRequest rq;
    rq.output = ReadOutput(a, "detect");
    if (auto v = a.value("--every")) {
        rq.every = int(ParseInt("--every", *v, 1, 1000));
    }
    if (auto v = a.value("--margin")) {
        rq.margin = ParseNumber("--margin", *v);
    }
    if (auto v = a.value("--hold")) {
        rq.hold = ParseNumber("--hold", *v);
    }
    if (auto v = a.value("--threshold")) {
        rq.threshold = ParseNumber("--threshold", *v);
    }
    if (auto v = a.value("--model")) {
        rq.model = *v;
    }
    rq.smallFaces = a.flag("--small-faces");
    rq.analysisWidth = AnalysisWidth(a);
    bool quiet = false;
    rq.progress = ReadProgress(a, quiet);
    const auto ops = a.operands(1);
    if (ops.empty()) {
        Usage("detect needs an INPUT");
    }
    rq.input = ops[0];
    rq.interrupted = Interrupted();
    const analysis::DetectSummary done = analysis::DetectFaces(rq);
    return Closing(quiet,
                   std::to_string(done.faces) + " faces in " +
                       std::to_string(done.framesWithFaces) + " of " +
                       std::to_string(done.frames) + " frames",
                   done.review, done.frames, rq.output.file, done.reviewSpans);
}

#else

int Track(Args&) {
    throw HostError(ErrorKind::Unsupported,
                    "track: this fxhost was built without analysis (TESSERA_BUILD_ANALYSIS=OFF)");
}

int Detect(Args&) {
    throw HostError(ErrorKind::Unsupported,
                    "detect: this fxhost was built without analysis (TESSERA_BUILD_ANALYSIS=OFF)");
}

#endif

} // namespace fxhost::cli
