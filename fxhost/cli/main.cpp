// main.cpp - the fxhost command line: render, info, thumbnail, configure, and the table of
// every command's options (track's and detect's in analysiscommands.cpp).
//
// Owns: the commands' tables, finding the plug-in bundle, Ctrl-C, and turning every failure
// into one line on standard error and the exit status of its kind (see fxhost/README.md).
// Promises: --help for every command and --version; the conventions of commandline.h (a
// repeated option takes its last value); nothing on standard output but what a command is
// asked to print.
#include "Folders.h"
#include "analysiscommands.h"
#include "args.h"
#include "commandline.h"
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
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using commandline::WholeFrom;
using fxhost::ErrorKind;
using fxhost::HostError;
using fxhost::cli::AddOutput;
using fxhost::cli::AddProgress;
using fxhost::cli::Command;
using fxhost::cli::ParseTime;
using fxhost::cli::ProgressChoice;
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

const char* const kFxhostNotes =
    "The plug-in is --plugin BUNDLE, else $FXHOST_PLUGIN_PATH, else Tessera.bundle next to\n"
    "fxhost, else Tessera.bundle in ../lib/tessera/ from fxhost (where it is installed); a\n"
    "bare name names a bundle in those two places (--plugin TesseraMotion).\n"
    "'fxhost COMMAND --help' shows a command's options; --version the version.";

const char* const kRenderHelp =
    "Renders every frame of INPUT (any file FFmpeg reads; without INPUT a built-in clip of\n"
    "10 s, 1280x720, 30 fps, moving shapes and a tone) through the plug-in into OUTPUT.\n"
    "The container follows OUTPUT's name (H.264 and AAC in .mp4, .mov, .mkv).";

const char* const kInfoHelp =
    "Prints the plug-in's description: type, flags, frames to render, the three sliders'\n"
    "labels, end labels and defaults, the button title and the group.";

const char* const kThumbnailHelp =
    "Writes the plug-in's placeholder frame for INPUT (frame N of the clip, default 0) as a\n"
    "PNG file.";

const char* const kConfigureHelp =
    "Presses the plug-in's custom button: its configuration dialog opens on frame N of\n"
    "INPUT (default 0), after telling it the clip as a host does; its clip slider covers\n"
    "the clip from that frame to its end. OK saves the settings for the next render, Cancel\n"
    "forgets them. With --prefs-dir the settings are read from and saved in DIR instead of\n"
    "the user's. Needs a display.";

std::pair<int, int> ParseSize(const std::string& v) {
    const auto [w, h] = commandline::WholePair(
        v, 'x', 1, 1 << 20, "WIDTHxHEIGHT, each from 1 to " + std::to_string(1 << 20));
    return {int(w), int(h)};
}

fs::path SelfDir() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : exe.parent_path();
}

// The plug-in keeps its settings in the Preferences folder, which the toolbox finds through
// $XDG_CONFIG_HOME; pointing that at DIR gives this run (and the plug-in only sees this
// process's environment) settings of its own without touching the user's.
void AddPrefsDir(CLI::App& cmd) {
    cmd.add_option("--prefs-dir", "the plug-in reads its settings from DIR for this run")
        ->type_name("DIR")
        ->each([](const std::string& v) {
            if (!toolbox::folders::usePreferencesFolder(v)) {
                throw CLI::ValidationError("wants a folder, not '" + v + "'");
            }
        });
}

// The bundle found from --plugin (when given) as PluginBundle::Locate finds it.
struct PluginChoice {
    std::optional<fs::path> given;
    fs::path bundle() const { return fxhost::PluginBundle::Locate(given, SelfDir()); }
};
void AddPlugin(CLI::App& cmd, PluginChoice& plugin) {
    cmd.add_option("--plugin", "the plug-in bundle to use")
        ->type_name("BUNDLE")
        ->each([&plugin](const std::string& v) { plugin.given = v; });
}

// What render's command line holds besides the request itself.
struct RenderLine {
    CLI::App* cmd = nullptr;
    fxhost::media::RenderRequest rq;
    PluginChoice plugin;
    fxhost::media::TrackRender track;
    bool network = false;
    ProgressChoice progress;
};

// The clip as the plug-in sees it: fades, slider values, proxy quality.
void AddClipOptions(CLI::App& cmd, fxhost::ClipSettings& clip) {
    cmd.add_option("--fade-in", clip.fadeInFrames, "fade the effect in over N frames (default 0)")
        ->type_name("N")
        ->transform(WholeFrom(0, INT32_MAX));
    cmd.add_option("--fade-out", clip.fadeOutFrames,
                   "fade the effect out over N frames (default 0)")
        ->type_name("N")
        ->transform(WholeFrom(0, INT32_MAX));
    cmd.add_option("--sliders", "the host sliders' values (default 0.5,0.5,0.5)")
        ->type_name("A,B,C")
        ->each([&clip](const std::string& v) {
            const std::vector<double> s = commandline::Numbers(v, 3);
            std::copy(s.begin(), s.end(), clip.sliders);
        });
    cmd.add_flag("--proxy", clip.proxyOnly,
                 "a quick proxy rendering (low quality frames, no sound)");
}

// The frames to render: by index (--frames) or by time (-ss, -t, -to).
void AddRangeOptions(CLI::App& cmd, fxhost::media::RenderRequest& rq) {
    cmd.add_option("--frames",
                   "render COUNT frames from frame FIRST (COUNT may be empty: to the end)")
        ->type_name("FIRST:COUNT")
        ->each([&rq](const std::string& v) {
            const auto colon = v.find(':');
            if (colon == std::string::npos) {
                throw CLI::ValidationError("wants FIRST:COUNT, not '" + v + "'");
            }
            rq.first = commandline::Whole(v.substr(0, colon), 0, INT32_MAX);
            rq.count.reset();
            if (colon + 1 < v.size()) {
                rq.count = commandline::Whole(v.substr(colon + 1), 1, INT32_MAX);
            }
        });
    const auto time = [&cmd](const char* name, std::optional<double>& into, const char* help) {
        cmd.add_option(name, CLI::callback_t(), help)
            ->type_name("TIME")
            ->each([&into](const std::string& v) { into = ParseTime(v); });
    };
    time("--ss", rq.startTime,
         "start at the first frame at or after TIME (seconds, or [HH:]MM:SS)");
    time("-t", rq.duration, "render the frames that start within DURATION after -ss");
    cmd.get_option("-t")->type_name("DURATION");
    time("--to", rq.endTime, "render the frames that start before TIME");
}

// What the output holds and how it is encoded.
void AddOutputOptions(CLI::App& cmd, fxhost::media::RenderRequest& rq) {
    cmd.add_flag("--an", rq.noAudio, "no sound in the output");
    cmd.add_flag("--strip-metadata", rq.stripMetadata,
                 "leave out the input's tags and chapters (location, device make\n"
                 "and model, creation time, title and other names)");
    cmd.add_option("--size", "render at this size instead of the input's")
        ->type_name("WxH")
        ->each([&rq](const std::string& v) { rq.size = ParseSize(v); });
    cmd.add_option("--codec", rq.codec,
                   "the video encoder (an FFmpeg encoder name, e.g. libx264, mpeg4)")
        ->type_name("NAME");
    cmd.add_option("--crf", rq.crf, "the encoder's quality setting (libx264: 0-51, default 23)")
        ->type_name("N");
    cmd.add_option("--preset", rq.preset,
                   "the encoder's speed preset (libx264: ultrafast .. veryslow)")
        ->type_name("NAME");
    cmd.add_option("--pix-fmt", rq.pixelFormat,
                   "the encoder's pixel format (e.g. yuv420p, yuv444p, yuv420p10le)")
        ->type_name("NAME");
    cmd.add_flag("--lossless", rq.lossless,
                 "FFV1 video in RGB and PCM sound, in .mkv: frames come back exactly");
}

// --track, and the block size and opacity it is rendered with; the bundle's own settings do
// not apply to it.
void AddTrackOptions(CLI::App& cmd, fxhost::media::TrackRender& track) {
    cmd.add_option("--track", track.track,
                   "render the regions of this track file with tessera.so, not the plug-in")
        ->type_name("TRACK.json");
    cmd.add_option("--block", "with --track: the block size in thousandths of the frame\n"
                              "(default 10,10)")
        ->type_name("W,H")
        ->each([&track](const std::string& v) {
            std::tie(track.blockW, track.blockH) = commandline::Block(v, 0);
        });
    cmd.add_option("--opacity", track.opacity,
                   "with --track: the original's share through the mosaic, 0-100")
        ->type_name("P")
        ->transform(WholeFrom(0, 100));
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

// The combinations of render's options that no single option can refuse.
void CheckRender(const RenderLine& line) {
    const CLI::App& cmd = *line.cmd;
    const fxhost::media::RenderRequest& rq = line.rq;
    if (cmd.count("--track") == 0) {
        if (cmd.count("--block") || cmd.count("--opacity")) {
            Usage("--block and --opacity go with --track");
        }
    } else if (cmd.count("--fade-in") || cmd.count("--fade-out") || cmd.count("--sliders") ||
               cmd.count("--plugin") || cmd.count("--prefs-dir")) {
        Usage("--track takes no --plugin, --prefs-dir, --fade-in, --fade-out or --sliders");
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
    if (rq.lossless &&
        (!rq.codec.empty() || !rq.crf.empty() || !rq.preset.empty() || !rq.pixelFormat.empty())) {
        Usage("--lossless takes no --codec, --crf, --preset or --pix-fmt");
    }
}

int Render(RenderLine& line) {
    CheckRender(line);
    fxhost::media::RenderRequest& rq = line.rq;
    if (line.cmd->count("--track")) {
        line.track.plugin = fxhost::media::LocateTesseraFrei0r(SelfDir());
        rq.track = line.track;
    }
    rq.plugin = line.plugin.bundle();
    rq.progress = line.progress.mode();
    rq.interrupted = &gInterrupted;
    fxhost::media::SetInputPolicy(line.network, &gInterrupted);
    return Report(fxhost::media::Render(rq), rq);
}

Command DeclareRender(CLI::App& fx) {
    auto line = std::make_shared<RenderLine>();
    fxhost::media::RenderRequest& rq = line->rq;
    CLI::App* cmd = line->cmd = fx.add_subcommand("render", kRenderHelp);
    commandline::Usage(*cmd, {"[INPUT] -o OUTPUT [options]"},
                       "render a clip (without INPUT: a built-in 10 s test clip)");
    cmd->add_option("INPUT", "the clip to render (without it: the built-in clip)")
        ->type_name("")
        ->each([&rq](const std::string& v) { rq.input = v; });
    AddOutput(*cmd, rq.output, rq.overwrite, "replace an existing OUTPUT");
    cmd->add_flag("--replace-input", rq.replaceInput, "allow OUTPUT to be INPUT itself (with -y)");
    AddPlugin(*cmd, line->plugin);
    AddClipOptions(*cmd, rq.clip);
    AddRangeOptions(*cmd, rq);
    AddOutputOptions(*cmd, rq);
    cmd->add_flag("--network", line->network,
                  "allow INPUT to be a URL (http://, rtmp://...); else only local files");
    AddProgress(*cmd, line->progress, "show no progress");
    AddPrefsDir(*cmd);
    AddTrackOptions(*cmd, line->track);
    return {cmd, [line] { return Render(*line); }};
}

Command DeclareInfo(CLI::App& fx) {
    struct Line {
        PluginChoice plugin;
        bool json = false;
    };
    auto line = std::make_shared<Line>();
    CLI::App* cmd = fx.add_subcommand("info", kInfoHelp);
    commandline::Usage(*cmd, {"[--plugin BUNDLE] [--json]"}, "print the plug-in's description");
    AddPlugin(*cmd, line->plugin);
    cmd->add_flag("--json", line->json, "print it as JSON");
    return {cmd, [line] {
                fxhost::cli::RunInfo(line->plugin.bundle(), line->json);
                return 0;
            }};
}

// --frame N: the clip's frame a command shows.
void AddFrame(CLI::App& cmd, SInt32& frame, const std::string& help) {
    cmd.add_option("--frame", frame, help)->type_name("N")->transform(WholeFrom(0, INT32_MAX));
}

Command DeclareThumbnail(CLI::App& fx) {
    struct Line {
        fxhost::cli::ThumbnailRequest rq;
        PluginChoice plugin;
    };
    auto line = std::make_shared<Line>();
    fxhost::cli::ThumbnailRequest& rq = line->rq;
    CLI::App* cmd = fx.add_subcommand("thumbnail", kThumbnailHelp);
    commandline::Usage(*cmd, {"INPUT -o FILE.png [--plugin BUNDLE] [--frame N] [--size WxH] [-y]"},
                       "write the plug-in's placeholder frame");
    cmd->add_option("INPUT", rq.input, "the clip")->type_name("")->required();
    AddOutput(*cmd, rq.output, rq.overwrite, "replace an existing FILE.png");
    cmd->get_option("-o")->type_name("FILE.png");
    AddPlugin(*cmd, line->plugin);
    AddFrame(*cmd, rq.frame, "the clip's frame to show (default 0)");
    cmd->add_option("--size", "the frame's size (default: the input's)")
        ->type_name("WxH")
        ->each([&rq](const std::string& v) { rq.size = ParseSize(v); });
    return {cmd, [line] {
                fxhost::media::SetInputPolicy(false, &gInterrupted);
                line->rq.plugin = line->plugin.bundle();
                fxhost::cli::RunThumbnail(line->rq);
                return 0;
            }};
}

Command DeclareConfigure(CLI::App& fx) {
    struct Line {
        fxhost::cli::ConfigureRequest rq;
        PluginChoice plugin;
    };
    auto line = std::make_shared<Line>();
    CLI::App* cmd = fx.add_subcommand("configure", kConfigureHelp);
    commandline::Usage(*cmd, {"INPUT [--frame N] [--plugin BUNDLE] [--prefs-dir DIR]"},
                       "open the plug-in's configuration dialog");
    cmd->add_option("INPUT", line->rq.input, "the clip")->type_name("")->required();
    AddFrame(*cmd, line->rq.frame, "the frame the dialog opens on (default 0)");
    AddPlugin(*cmd, line->plugin);
    AddPrefsDir(*cmd);
    return {cmd, [line] {
                fxhost::media::SetInputPolicy(false, &gInterrupted);
                line->rq.plugin = line->plugin.bundle();
                fxhost::cli::RunConfigure(line->rq);
                return 0;
            }};
}

// Every command, declared on FX in the order the help lists them.
std::vector<Command> DeclareCommands(CLI::App& fx) {
    commandline::Prepare(fx, {"ss", "to", "an"});
    fx.set_version_flag("--version", std::string("fxhost ") + FXHOST_VERSION, "show the version");
    commandline::Usage(fx, {"COMMAND [OPTIONS]"});
    std::vector<Command> commands = {DeclareRender(fx),
                                     DeclareInfo(fx),
                                     DeclareThumbnail(fx),
                                     DeclareConfigure(fx),
                                     fxhost::cli::DeclareTrack(fx),
                                     fxhost::cli::DeclareDetect(fx)};
    fx.require_subcommand(1);
    fx.footer(kFxhostNotes); // set last: the commands would inherit it
    return commands;
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

    try {
        CLI::App fx("Runs a video-effect plug-in bundle over real video.", "fxhost");
        const std::vector<Command> commands = DeclareCommands(fx);
        if (const auto status = commandline::Parse(fx, {argv + 1, argv + argc})) {
            return *status;
        }
        for (const auto& [cmd, run] : commands) {
            if (cmd->parsed()) {
                return run();
            }
        }
        return int(ErrorKind::Internal);
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
