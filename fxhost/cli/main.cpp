// main.cpp - the fxhost command line: render, info, thumbnail, configure.
//
// Owns: parsing the command line, finding the plug-in bundle, Ctrl-C, and turning every
// failure into one line on standard error and the exit status of its kind (see
// fxhost/README.md). Promises: --help for every command and --version; nothing on
// standard output but what a command is asked to print.
#include "commands.h"
#include "hosterror.h"
#include "pluginbundle.h"
#include "render.h"
#include "videosource.h"

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <malloc.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

using fxhost::ErrorKind;
using fxhost::HostError;
namespace fs = std::filesystem;

namespace {

std::atomic<bool> gInterrupted{false};

void OnSignal(int) {
    gInterrupted = true;
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
    "\n"
    "The plug-in is --plugin BUNDLE, else $FXHOST_PLUGIN_PATH, else Tessera.bundle next to\n"
    "fxhost. 'fxhost COMMAND --help' shows a command's options; --version the version.\n";

const char* const kRenderHelp =
    "usage: fxhost render [INPUT] -o OUTPUT [options]\n"
    "\n"
    "Renders every frame of INPUT (any file FFmpeg reads; without INPUT a built-in clip of\n"
    "10 s, 1280x720, 30 fps, moving shapes and a tone) through the plug-in into OUTPUT.\n"
    "The container follows OUTPUT's name (H.264 and AAC in .mp4, .mov, .mkv).\n"
    "\n"
    "  -o, --output FILE     the file to write (kept if it exists, unless -y)\n"
    "  -y                    replace an existing OUTPUT\n"
    "  --plugin BUNDLE       the plug-in bundle to use\n"
    "  --fade-in N           fade the effect in over N frames (default 0)\n"
    "  --fade-out N          fade the effect out over N frames (default 0)\n"
    "  --sliders A,B,C       the host sliders' values (default 0.5,0.5,0.5)\n"
    "  --proxy               a quick proxy rendering (low quality frames, no sound)\n"
    "  --size WxH            render at this size instead of the input's\n"
    "  --frames FIRST:COUNT  render COUNT frames from frame FIRST (COUNT may be empty: to the "
    "end)\n"
    "  --codec NAME          the video encoder (an FFmpeg encoder name, e.g. libx264, mpeg4)\n"
    "  --lossless            FFV1 video in RGB and PCM sound, in .mkv: frames come back exactly\n"
    "  --progress            show progress even when standard error is not a terminal\n"
    "  --quiet               show no progress\n";

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
    "usage: fxhost configure INPUT [--frame N] [--plugin BUNDLE]\n"
    "\n"
    "Presses the plug-in's custom button: its configuration dialog opens on frame N of\n"
    "INPUT (default 0), after telling it the clip as a host does; its clip slider covers\n"
    "the clip from that frame to its end. OK saves the settings for the next render, Cancel\n"
    "forgets them. Needs a display.\n";

[[noreturn]] void Usage(const std::string& text) {
    throw HostError(ErrorKind::Usage, text);
}

long long ParseInt(const std::string& opt, const std::string& v, long long lo, long long hi) {
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(v.c_str(), &end, 10);
    if (v.empty() || *end || errno || n < lo || n > hi) {
        Usage(opt + " wants a whole number from " + std::to_string(lo) + " to " +
              std::to_string(hi) + ", not '" + v + "'");
    }
    return n;
}

std::pair<int, int> ParseSize(const std::string& v) {
    const auto x = v.find('x');
    if (x == std::string::npos) {
        Usage("--size wants WIDTHxHEIGHT, not '" + v + "'");
    }
    return {int(ParseInt("--size", v.substr(0, x), 1, 1 << 20)),
            int(ParseInt("--size", v.substr(x + 1), 1, 1 << 20))};
}

// A tiny option reader: options may come before or after the operands.
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
    std::optional<std::string> value(const char* name, const char* alias = nullptr) {
        for (auto it = args_.begin(); it != args_.end(); ++it) {
            const std::string& a = *it;
            if (a == name || (alias && a == alias)) {
                if (it + 1 == args_.end()) {
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

fs::path SelfDir() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : exe.parent_path();
}

fs::path Plugin(Args& a) {
    std::optional<fs::path> explicitPath;
    if (auto v = a.value("--plugin")) {
        explicitPath = *v;
    }
    return fxhost::PluginBundle::Locate(explicitPath, SelfDir());
}

int Render(Args& a) {
    fxhost::media::RenderRequest rq;
    auto out = a.value("--output", "-o");
    rq.overwrite = a.flag("-y");
    rq.plugin = Plugin(a);
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
    if (auto v = a.value("--size")) {
        rq.size = ParseSize(*v);
    }
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
    if (auto v = a.value("--codec")) {
        rq.codec = *v;
    }
    rq.lossless = a.flag("--lossless");
    const bool progress = a.flag("--progress"), quiet = a.flag("--quiet");
    rq.progress = quiet      ? fxhost::media::ProgressMode::Never
                  : progress ? fxhost::media::ProgressMode::Always
                             : fxhost::media::ProgressMode::Auto;
    auto ops = a.operands(1);
    if (!out) {
        Usage("render needs an output: -o OUTPUT");
    }
    rq.output = *out;
    if (!ops.empty()) {
        rq.input = ops[0];
    }
    if (rq.lossless && !rq.codec.empty()) {
        Usage("--lossless and --codec cannot be combined");
    }
    rq.interrupted = &gInterrupted;
    fxhost::media::Render(rq);
    // The render went on through damage in the input; say so, or the output would pass for
    // a clean copy.
    if (const std::int64_t errors = fxhost::media::DecoderErrorCount(); errors > 0) {
        std::fprintf(stderr,
                     "fxhost: warning: the decoder reported %lld error(s) in %s; the damaged "
                     "frames were rendered as far as they could be decoded\n",
                     static_cast<long long>(errors),
                     rq.input ? rq.input->string().c_str() : "the input");
    }
    return 0;
}

int Info(Args& a) {
    const fs::path plugin = Plugin(a);
    const bool json = a.flag("--json");
    a.operands(0);
    fxhost::cli::RunInfo(plugin, json);
    return 0;
}

int Thumbnail(Args& a) {
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
    fxhost::cli::ConfigureRequest rq;
    rq.plugin = Plugin(a);
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

int main(int argc, char** argv) {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
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
                                    {"configure", kConfigureHelp, Configure}};
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
        std::fprintf(stderr, "fxhost: %s\n", e.what());
        return e.exitStatus();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fxhost: internal error: %s\n", e.what());
        return int(ErrorKind::Internal);
    }
}
