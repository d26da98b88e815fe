// main.cpp - the fxhost command line: render, info, thumbnail, configure.
//
// Owns: parsing the command line, finding the plug-in bundle, Ctrl-C, and turning every
// failure into one line on standard error and the exit status of its kind (see
// fxhost/README.md). Promises: --help for every command and --version; nothing on
// standard output but what a command is asked to print.
#include "Folders.h"
#include "analysiscommands.h"
#include "args.h"
#include "commands.h"
#include "hosterror.h"
#include "mediainput.h"
#include "outputfile.h"
#include "pluginbundle.h"
#include "render.h"
#include "videosource.h"

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <malloc.h>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using fxhost::ErrorKind;
using fxhost::HostError;
using fxhost::cli::Args;
using fxhost::cli::ParseBlock;
using fxhost::cli::ParseInt;
using fxhost::cli::ParseTime;
using fxhost::cli::Usage;
namespace fs = std::filesystem;

namespace {

std::atomic<bool> gInterrupted{false};
std::atomic<int> gSignal{0};

// The first signal asks the render to stop at the next frame, which unwinds normally and
// removes the temporary; a second one, or the watchdog when unwinding takes more than a
// second, removes the temporaries and ends the process at once.
void OnSignal(int sig) {
    int none = 0;
    if (!gSignal.compare_exchange_strong(none, sig)) {
        fxhost::media::RemoveLiveTemporaries();
        _exit(128 + gSignal.load());
    }
    gInterrupted = true;
}

void StartSignalHandling() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    // A closed terminal (HUP), `fxhost ... 2>&1 | head` (PIPE), kill (TERM), Ctrl-\ (QUIT).
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) {
        sigaction(sig, &sa, nullptr);
    }
    std::thread([] {
        while (!gInterrupted.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(900));
        fxhost::media::RemoveLiveTemporaries();
        _exit(128 + gSignal.load());
    }).detach();
}

const char* const kMainHelp =
    "usage: fxhost COMMAND [OPTIONS]\n"
    "\n"
    "Runs a video-effect plug-in bundle over real video.\n"
    "\n"
    "commands:\n"
    "  render [INPUT] -o OUTPUT   render a clip (without INPUT: a built-in 10 s test clip)\n"
    "  info                       print the plug-in's description\n"
    "  thumbnail INPUT -o FILE.png  write the plug-in's placeholder frame\n"
    "  configure INPUT            open the plug-in's configuration dialog\n"
    "  track INPUT --region L,T,W,H -o TRACK.json  follow a region through the clip\n"
    "  detect INPUT --faces -o TRACK.json  find and follow every face in the clip\n"
    "\n"
    "The plug-in is --plugin BUNDLE, else $FXHOST_PLUGIN_PATH, else Tessera.bundle next to\n"
    "fxhost, else Tessera.bundle in ../lib/tessera/ from fxhost (where it is installed); a\n"
    "bare name names a bundle in those two places (--plugin TesseraMotion).\n"
    "'fxhost COMMAND --help' shows a command's options; --version the version.\n";

const char* const kRenderHelp =
    "usage: fxhost render [INPUT] -o OUTPUT [options]\n"
    "\n"
    "Renders every frame of INPUT (any file FFmpeg reads; without INPUT a built-in clip of\n"
    "10 s, 1280x720, 30 fps, moving shapes and a tone) through the plug-in into OUTPUT.\n"
    "The container follows OUTPUT's name (H.264 and AAC in .mp4, .mov, .mkv).\n"
    "\n"
    "  -o, --output FILE     the file to write (kept if it exists, unless -y)\n"
    "  -y                    replace an existing OUTPUT\n"
    "  --replace-input       allow OUTPUT to be INPUT itself (with -y)\n"
    "  --plugin BUNDLE       the plug-in bundle to use\n"
    "  --fade-in N           fade the effect in over N frames (default 0)\n"
    "  --fade-out N          fade the effect out over N frames (default 0)\n"
    "  --sliders A,B,C       the host sliders' values (default 0.5,0.5,0.5)\n"
    "  --proxy               a quick proxy rendering (low quality frames, no sound)\n"
    "  --size WxH            render at this size instead of the input's\n"
    "  --frames FIRST:COUNT  render COUNT frames from frame FIRST (COUNT may be empty: to the "
    "end)\n"
    "  -ss TIME              start at the first frame at or after TIME (seconds, or [HH:]MM:SS)\n"
    "  -t DURATION           render the frames that start within DURATION after -ss\n"
    "  -to TIME              render the frames that start before TIME\n"
    "  -an                   no sound in the output\n"
    "  --strip-metadata      leave out the input's tags and chapters (location, device make\n"
    "                        and model, creation time, title and other names)\n"
    "  --codec NAME          the video encoder (an FFmpeg encoder name, e.g. libx264, mpeg4)\n"
    "  --crf N               the encoder's quality setting (libx264: 0-51, default 23)\n"
    "  --preset NAME         the encoder's speed preset (libx264: ultrafast .. veryslow)\n"
    "  --pix-fmt NAME        the encoder's pixel format (e.g. yuv420p, yuv444p, yuv420p10le)\n"
    "  --lossless            FFV1 video in RGB and PCM sound, in .mkv: frames come back exactly\n"
    "  --network             allow INPUT to be a URL (http://, rtmp://...); else only local files\n"
    "  --progress            show progress even when standard error is not a terminal\n"
    "  --quiet               show no progress\n"
    "  --prefs-dir DIR       the plug-in reads its settings from DIR for this run\n";

const char* const kInfoHelp =
    "usage: fxhost info [--plugin BUNDLE] [--json]\n"
    "\n"
    "Prints the plug-in's description: type, flags, frames to render, the three sliders'\n"
    "labels, end labels and defaults, the button title and the group.\n";

const char* const kThumbnailHelp =
    "usage: fxhost thumbnail INPUT -o FILE.png [--plugin BUNDLE] [--frame N] [--size WxH] [-y]\n"
    "\n"
    "Writes the plug-in's placeholder frame for INPUT (frame N of the clip, default 0) as a\n"
    "PNG file.\n";

const char* const kConfigureHelp =
    "usage: fxhost configure INPUT [--frame N] [--plugin BUNDLE] [--prefs-dir DIR]\n"
    "\n"
    "Presses the plug-in's custom button: its configuration dialog opens on frame N of\n"
    "INPUT (default 0), after telling it the clip as a host does; its clip slider covers\n"
    "the clip from that frame to its end. OK saves the settings for the next render, Cancel\n"
    "forgets them. With --prefs-dir the settings are read from and saved in DIR instead of\n"
    "the user's. Needs a display.\n";

std::pair<int, int> ParseSize(const std::string& v) {
    const auto x = v.find('x');
    if (x == std::string::npos) {
        Usage("--size wants WIDTHxHEIGHT, not '" + v + "'");
    }
    return {int(ParseInt("--size", v.substr(0, x), 1, 1 << 20)),
            int(ParseInt("--size", v.substr(x + 1), 1, 1 << 20))};
}

fs::path SelfDir() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : exe.parent_path();
}

// The plug-in keeps its settings in the Preferences folder, which the toolbox finds through
// $XDG_CONFIG_HOME; pointing that at DIR gives this run (and the plug-in only sees this
// process's environment) settings of its own without touching the user's.
void UsePrefsDir(Args& a) {
    const auto v = a.value("--prefs-dir");
    if (!v) {
        return;
    }
    if (!toolbox::folders::usePreferencesFolder(*v)) {
        Usage("--prefs-dir wants a folder, not '" + *v + "'");
    }
}

fs::path Plugin(Args& a) {
    std::optional<fs::path> explicitPath;
    if (auto v = a.value("--plugin")) {
        explicitPath = *v;
    }
    return fxhost::PluginBundle::Locate(explicitPath, SelfDir());
}

// --track, and the block size and opacity it is rendered with; the bundle's own settings do
// not apply to it.
void TrackOptions(Args& a, fxhost::media::RenderRequest& rq) {
    const auto track = a.value("--track");
    const auto block = a.value("--block"), opacity = a.value("--opacity");
    if (!track) {
        if (block || opacity) {
            Usage("--block and --opacity go with --track");
        }
        return;
    }
    if (a.has("--fade-in") || a.has("--fade-out") || a.has("--sliders") || a.has("--plugin") ||
        a.has("--prefs-dir")) {
        Usage("--track takes no --plugin, --prefs-dir, --fade-in, --fade-out or --sliders");
    }
    fxhost::media::TrackRender tr;
    tr.track = *track;
    tr.plugin = fxhost::media::LocateTesseraFrei0r(SelfDir());
    if (block) {
        std::tie(tr.blockW, tr.blockH) = ParseBlock(*block, 0);
    }
    if (opacity) {
        tr.opacity = int(ParseInt("--opacity", *opacity, 0, 100));
    }
    rq.track = tr;
}

// The clip as the plug-in sees it: fades, slider values, proxy quality.
void ClipOptions(Args& a, fxhost::media::RenderRequest& rq) {
    if (auto v = a.value("--fade-in")) {
        rq.clip.fadeInFrames = SInt32(ParseInt("--fade-in", *v, 0, INT32_MAX));
    }
    if (auto v = a.value("--fade-out")) {
        rq.clip.fadeOutFrames = SInt32(ParseInt("--fade-out", *v, 0, INT32_MAX));
    }
    if (auto v = a.value("--sliders")) {
        float s[3];
        char tail = 0;
        if (std::sscanf(v->c_str(), "%f,%f,%f%c", &s[0], &s[1], &s[2], &tail) != 3) {
            Usage("--sliders wants three numbers A,B,C, not '" + *v + "'");
        }
        std::copy(s, s + 3, rq.clip.sliders);
    }
    rq.clip.proxyOnly = a.flag("--proxy");
}

// The frames to render: by index (--frames) or by time (-ss, -t, -to), not both.
void RangeOptions(Args& a, fxhost::media::RenderRequest& rq) {
    if (auto v = a.value("--frames")) {
        const auto colon = v->find(':');
        if (colon == std::string::npos) {
            Usage("--frames wants FIRST:COUNT, not '" + *v + "'");
        }
        rq.first = ParseInt("--frames", v->substr(0, colon), 0, INT32_MAX);
        if (colon + 1 < v->size()) {
            rq.count = ParseInt("--frames", v->substr(colon + 1), 1, INT32_MAX);
        }
    }
    if (auto v = a.value("-ss")) {
        rq.startTime = ParseTime("-ss", *v);
    }
    if (auto v = a.value("-t")) {
        rq.duration = ParseTime("-t", *v);
    }
    if (auto v = a.value("-to")) {
        rq.endTime = ParseTime("-to", *v);
    }
    if (rq.duration && rq.endTime) {
        Usage("-t and -to cannot be combined");
    }
    if ((rq.startTime || rq.duration || rq.endTime) && (rq.first != 0 || rq.count)) {
        Usage("--frames and -ss/-t/-to cannot be combined");
    }
    if (rq.endTime && *rq.endTime <= rq.startTime.value_or(0.0)) {
        Usage("-to must come after -ss");
    }
}

// What the output holds and how it is encoded.
void OutputOptions(Args& a, fxhost::media::RenderRequest& rq) {
    rq.noAudio = a.flag("-an");
    rq.stripMetadata = a.flag("--strip-metadata");
    if (auto v = a.value("--size")) {
        rq.size = ParseSize(*v);
    }
    if (auto v = a.value("--codec")) {
        rq.codec = *v;
    }
    if (auto v = a.value("--crf")) {
        rq.crf = *v;
    }
    if (auto v = a.value("--preset")) {
        rq.preset = *v;
    }
    if (auto v = a.value("--pix-fmt")) {
        rq.pixelFormat = *v;
    }
    rq.lossless = a.flag("--lossless");
    if (rq.lossless &&
        (!rq.codec.empty() || !rq.crf.empty() || !rq.preset.empty() || !rq.pixelFormat.empty())) {
        Usage("--lossless takes no --codec, --crf, --preset or --pix-fmt");
    }
}

// One line when the output is not a clean copy of the input: the input ended early (exit
// status 8), or the decoder met damage it rendered around.
int Report(const fxhost::media::RenderStats& stats, const fxhost::media::RenderRequest& rq) {
    const std::string in = rq.input ? rq.input->string() : "the input";
    const std::int64_t errors = fxhost::media::DecoderErrorCount();
    const std::string damage =
        errors > 0 ? "; the decoder reported " + std::to_string(errors) + " error(s)" : "";
    if (stats.incomplete()) {
        std::fprintf(stderr,
                     "fxhost: warning: %s ends early: rendered %lld of %lld frames%s; the output "
                     "is incomplete\n",
                     in.c_str(), static_cast<long long>(stats.frames),
                     static_cast<long long>(stats.expected), damage.c_str());
        return int(ErrorKind::Incomplete);
    }
    if (errors > 0) {
        std::fprintf(stderr,
                     "fxhost: warning: the decoder reported %lld error(s) in %s; the damaged "
                     "frames were rendered as far as they could be decoded\n",
                     static_cast<long long>(errors), in.c_str());
    }
    return 0;
}

int Render(Args& a) {
    fxhost::media::RenderRequest rq;
    TrackOptions(a, rq);
    auto out = a.value("--output", "-o");
    rq.overwrite = a.flag("-y");
    rq.replaceInput = a.flag("--replace-input");
    rq.plugin = Plugin(a);
    UsePrefsDir(a);
    ClipOptions(a, rq);
    RangeOptions(a, rq);
    OutputOptions(a, rq);
    const bool network = a.flag("--network");
    bool quiet = false;
    rq.progress = ReadProgress(a, quiet);
    auto ops = a.operands(1);
    if (!out) {
        Usage("render needs an output: -o OUTPUT");
    }
    rq.output = *out;
    if (!ops.empty()) {
        rq.input = ops[0];
    }
    rq.interrupted = &gInterrupted;
    fxhost::media::SetInputPolicy(network, &gInterrupted);
    return Report(fxhost::media::Render(rq), rq);
}

int Info(Args& a) {
    const fs::path plugin = Plugin(a);
    const bool json = a.flag("--json");
    a.operands(0);
    fxhost::cli::RunInfo(plugin, json);
    return 0;
}

int Thumbnail(Args& a) {
    fxhost::media::SetInputPolicy(false, &gInterrupted);
    fxhost::cli::ThumbnailRequest rq;
    auto out = a.value("--output", "-o");
    rq.overwrite = a.flag("-y");
    rq.plugin = Plugin(a);
    if (auto v = a.value("--frame")) {
        rq.frame = SInt32(ParseInt("--frame", *v, 0, INT32_MAX));
    }
    if (auto v = a.value("--size")) {
        rq.size = ParseSize(*v);
    }
    auto ops = a.operands(1);
    if (ops.empty()) {
        Usage("thumbnail needs an INPUT");
    }
    if (!out) {
        Usage("thumbnail needs an output: -o FILE.png");
    }
    rq.input = ops[0];
    rq.output = *out;
    fxhost::cli::RunThumbnail(rq);
    return 0;
}

int Configure(Args& a) {
    fxhost::media::SetInputPolicy(false, &gInterrupted);
    fxhost::cli::ConfigureRequest rq;
    rq.plugin = Plugin(a);
    UsePrefsDir(a);
    if (auto v = a.value("--frame")) {
        rq.frame = SInt32(ParseInt("--frame", *v, 0, INT32_MAX));
    }
    auto ops = a.operands(1);
    if (ops.empty()) {
        Usage("configure needs an INPUT");
    }
    rq.input = ops[0];
    fxhost::cli::RunConfigure(rq);
    return 0;
}

} // namespace

const std::atomic<bool>* fxhost::cli::Interrupted() {
    return &gInterrupted;
}

int main(int argc, char** argv) {
    StartSignalHandling();
    // Every frame passes through several frame-sized buffers (decoded, the plug-in's
    // GWorlds, the encoder's queue). Keeping freed buffers in the heap instead of handing
    // them back to the kernel saves re-faulting and zeroing 8 MB per buffer per 1080p frame;
    // the number of buffers alive at once is bounded, so the heap does not grow with the clip.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    // FFmpeg's own chatter would bury the one line fxhost prints for a failure.
    av_log_set_level(std::getenv("FXHOST_FFMPEG_LOG") ? AV_LOG_INFO : AV_LOG_QUIET);

    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command.empty() || command == "--help" || command == "-h" || command == "help") {
            std::fputs(kMainHelp, command.empty() ? stderr : stdout);
            return command.empty() ? int(ErrorKind::Usage) : 0;
        }
        if (command == "--version") {
            std::printf("fxhost %s\n", FXHOST_VERSION);
            return 0;
        }
        struct Command {
            const char* name;
            const char* help;
            int (*run)(Args&);
        };
        const Command commands[] = {{"render", kRenderHelp, Render},
                                    {"info", kInfoHelp, Info},
                                    {"thumbnail", kThumbnailHelp, Thumbnail},
                                    {"configure", kConfigureHelp, Configure},
                                    {"track", fxhost::cli::kTrackHelp, fxhost::cli::Track},
                                    {"detect", fxhost::cli::kDetectHelp, fxhost::cli::Detect}};
        for (const Command& c : commands) {
            if (command == c.name) {
                Args a(argc, argv, 2);
                if (a.flag("--help") || a.flag("-h")) {
                    std::fputs(c.help, stdout);
                    return 0;
                }
                return c.run(a);
            }
        }
        Usage("unknown command '" + command + "' (see fxhost --help)");
    } catch (const HostError& e) {
        if (e.kind() == ErrorKind::Interrupted) {
            const int sig = gSignal.load() ? gSignal.load() : SIGINT;
            if (sig != SIGPIPE) { // standard error may be the pipe that closed
                std::fprintf(stderr, "fxhost: interrupted by SIG%s\n", sigabbrev_np(sig));
            }
            return 128 + sig;
        }
        std::fprintf(stderr, "fxhost: %s\n", e.what());
        return e.exitStatus();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fxhost: internal error: %s\n", e.what());
        return int(ErrorKind::Internal);
    }
}
