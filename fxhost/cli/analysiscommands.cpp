// analysiscommands.cpp - fxhost track's and detect's tables of options, and their closing
// lines.
#include "analysiscommands.h"

#include "mediainput.h"

#if FXHOST_WITH_ANALYSIS
#include "detectfaces.h"
#include "trackregion.h"
#endif

#include <cstdio>
#include <memory>

namespace fxhost::cli {

namespace {

const char* const kTrackHelp =
    "Follows the region drawn on one frame of INPUT (left, top, width and height as fractions\n"
    "of the frame; the frame is N, or the first at or after TIME, default the first) forward\n"
    "and backward through the whole clip, and writes a track file: per frame, the region to\n"
    "pixelate, a confidence and a review mark (fxhost render --track reads it). Where the\n"
    "subject cannot be followed (hidden, out of the frame, lost) the region holds its last\n"
    "good place and grows, and the frame is marked for review; the command then ends with\n"
    "one line naming the frames to look at, and exit status 9.";

const char* const kDetectHelp =
    "Finds every face in INPUT and writes a track file that hides them (fxhost render --track\n"
    "reads it): faces are searched for on every Nth frame and followed from frame to frame in\n"
    "between; a face first found on a search is followed back over the frames before it, and\n"
    "a face no longer found stays hidden for the hold time. Frames where a face could not be\n"
    "followed (its region held and grown instead) are marked for review; the command then\n"
    "ends with one line naming them, and exit status 9. The model is MediaPipe's BlazeFace\n"
    "(scripts/install-face-model.sh installs it).";

const char* const kTrackUsage =
    "INPUT --region L,T,W,H [--frame N | -ss TIME] -o TRACK.json [options]";
const char* const kDetectUsage = "INPUT --faces -o TRACK.json [options]";

#if FXHOST_WITH_ANALYSIS

// INPUT, -o and -y, which both commands take first.
void AddInputOutput(CLI::App& cmd, std::filesystem::path& input, analysis::TrackOutput& out) {
    cmd.add_option("INPUT", input, "the clip")->type_name("")->required();
    AddOutput(cmd, out.file, out.overwrite, "replace an existing output");
}

// The output's form and the MLT filter's parameters, which both commands share.
void AddFormat(CLI::App& cmd, analysis::TrackOutput& out, const std::string& formatHelp,
               const std::string& blockHelp) {
    cmd.add_option("--format", formatHelp)
        ->type_name("json|mlt")
        ->check(commandline::OneOf({"json", "mlt"}))
        ->each([&out](const std::string& v) { out.mlt = v == "mlt"; });
    cmd.add_option("--block", blockHelp)->type_name("W,H")->each([&out](const std::string& v) {
        std::tie(out.blockWidth, out.blockHeight) = commandline::Block(v, 1);
    });
    cmd.add_option("--opacity", out.opacity,
                   "with --format mlt: the original's share through the mosaic, 0-100")
        ->type_name("P")
        ->transform(commandline::WholeFrom(0, 100));
}

void AddAnalysisWidth(CLI::App& cmd, int& width, const std::string& help) {
    cmd.add_option("--analysis-width", width, help)
        ->type_name("N")
        ->transform(commandline::WholeFrom(0, 1 << 16));
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

int Track(analysis::TrackRequest& rq, const ProgressChoice& progress) {
    media::SetInputPolicy(false, Interrupted());
    rq.progress = progress.mode();
    rq.interrupted = Interrupted();
    const analysis::TrackSummary done = analysis::TrackRegion(rq);
    return Closing(progress.quiet, "followed through " + std::to_string(done.frames) + " frames",
                   done.review, done.frames, rq.output.file, done.reviewSpans);
}

int Detect(analysis::DetectRequest& rq, const ProgressChoice& progress) {
    media::SetInputPolicy(false, Interrupted());
    rq.progress = progress.mode();
    rq.interrupted = Interrupted();
    const analysis::DetectSummary done = analysis::DetectFaces(rq);
    return Closing(progress.quiet,
                   std::to_string(done.faces) + " faces in " +
                       std::to_string(done.framesWithFaces) + " of " + std::to_string(done.frames) +
                       " frames",
                   done.review, done.frames, rq.output.file, done.reviewSpans);
}

Command DeclareTrackOptions(CLI::App& cmd) {
    struct Line {
        analysis::TrackRequest rq;
        ProgressChoice progress;
    };
    auto line = std::make_shared<Line>();
    analysis::TrackRequest& rq = line->rq;
    AddInputOutput(cmd, rq.input, rq.output);
    cmd.add_option("--region", "the region on the frame it is drawn on, inside the frame")
        ->type_name("L,T,W,H")
        ->required()
        ->each([&rq](const std::string& v) {
            const std::vector<double> r = commandline::Numbers(v, 4);
            std::tie(rq.left, rq.top, rq.width, rq.height) = std::tie(r[0], r[1], r[2], r[3]);
        });
    cmd.add_option("--frame", "the frame the region is drawn on (from 0)")
        ->type_name("N")
        ->each([&rq](const std::string& v) { rq.frame = commandline::Whole(v, 0, INT32_MAX); });
    cmd.add_option("--ss", "or its time (seconds, or [HH:]MM:SS[.frac])")
        ->type_name("TIME")
        ->each([&rq](const std::string& v) { rq.startTime = ParseTime(v); });
    AddFormat(cmd, rq.output,
              "a track file (default), or an MLT document applying the track to\n"
              "tessera.so as keyframes (melt, Kdenlive)",
              "with --format mlt: the block size in thousandths of the frame\n(default 10,10)");
    cmd.add_option("--tracker", "OpenCV's tracker to follow with (default csrt: it keeps the\n"
                                "subject more often; kcf is faster)")
        ->type_name("csrt|kcf")
        ->check(commandline::OneOf({"csrt", "kcf"}))
        ->each([&rq](const std::string& v) {
            rq.tracker = v == "kcf" ? analysis::TrackerChoice::Kcf : analysis::TrackerChoice::Csrt;
        });
    AddAnalysisWidth(cmd, rq.analysisWidth,
                     "follow frames wider than N pixels downscaled to N (default 640;\n"
                     "0: at the clip's size)");
    AddProgress(cmd, line->progress, "show neither progress nor the closing line");
    return {&cmd, [line, &cmd] {
                if (cmd.count("--frame") && cmd.count("--ss")) {
                    Usage("--frame and -ss cannot be combined");
                }
                return Track(line->rq, line->progress);
            }};
}

Command DeclareDetectOptions(CLI::App& cmd) {
    struct Line {
        analysis::DetectRequest rq;
        ProgressChoice progress;
        bool faces = false;
    };
    auto line = std::make_shared<Line>();
    analysis::DetectRequest& rq = line->rq;
    AddInputOutput(cmd, rq.input, rq.output);
    cmd.add_flag("--faces", line->faces, "what to find (faces are all there is so far)")
        ->required();
    cmd.add_option("--every", rq.every, "search on every Nth frame (default 5; 1: every frame)")
        ->type_name("N")
        ->transform(commandline::WholeFrom(1, 1000));
    const auto number = [&cmd](const char* name, double& into, const char* argument,
                               const char* help) {
        cmd.add_option(name, into, help)->type_name(argument)->check(commandline::Finite());
    };
    number("--margin", rq.margin, "F",
           "the region reaches F of the face's size past each side\n(default 0.25)");
    number("--hold", rq.hold, "S", "a face no longer found stays hidden S seconds (default 1)");
    number("--threshold", rq.threshold, "P",
           "the score 0..1 a face needs (default 0.5; lower finds more)");
    cmd.add_flag("--small-faces", rq.smallFaces,
                 "also search the frame in overlapping tiles: finds faces much\n"
                 "smaller than the frame, several times slower");
    cmd.add_option("--model", rq.model, "the BlazeFace ONNX model (default: the installed one)")
        ->type_name("FILE");
    AddAnalysisWidth(cmd, rq.analysisWidth,
                     "search and follow frames wider than N pixels downscaled to N\n"
                     "(default 640; 0: at the clip's size)");
    AddFormat(cmd, rq.output,
              "a track file (default), or an MLT document applying the track to\n"
              "tessera.so as keyframes, one filter per face (melt, Kdenlive)",
              "with --format mlt: the block size in thousandths of the frame");
    AddProgress(cmd, line->progress, "show neither progress nor the closing line");
    return {&cmd, [line] { return Detect(line->rq, line->progress); }};
}

#else

// Without the analysis module the commands take any arguments and say that they cannot run.
Command Unsupported(CLI::App& cmd) {
    cmd.allow_extras();
    const std::string name = cmd.get_name();
    return {&cmd, [name]() -> int {
                throw HostError(ErrorKind::Unsupported,
                                name + ": this fxhost was built without analysis "
                                       "(TESSERA_BUILD_ANALYSIS=OFF)");
            }};
}
Command DeclareTrackOptions(CLI::App& cmd) {
    return Unsupported(cmd);
}
Command DeclareDetectOptions(CLI::App& cmd) {
    return Unsupported(cmd);
}

#endif

} // namespace

Command DeclareTrack(CLI::App& fxhost) {
    CLI::App* cmd = fxhost.add_subcommand("track", kTrackHelp);
    commandline::Usage(*cmd, {kTrackUsage}, "follow a region through the clip");
    return DeclareTrackOptions(*cmd);
}

Command DeclareDetect(CLI::App& fxhost) {
    CLI::App* cmd = fxhost.add_subcommand("detect", kDetectHelp);
    commandline::Usage(*cmd, {kDetectUsage}, "find and follow every face in the clip");
    return DeclareDetectOptions(*cmd);
}

} // namespace fxhost::cli
