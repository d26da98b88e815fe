// render.cpp - the render loop. The plug-in runs on this thread; decoding runs ahead on
// the frame source's worker and encoding behind on the writer's, so all three overlap.
#include "render.h"

#include "audiosource.h"
#include "hosterror.h"
#include "pluginbundle.h"
#include "resultnames.h"
#include "videosource.h"
#include "writer.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace fxhost::media {

namespace {

using Clock = std::chrono::steady_clock;

class Progress {
  public:
    Progress(ProgressMode mode, std::int64_t total) : total_(total) {
        tty_ = isatty(2);
        on_ = mode == ProgressMode::Always || (mode == ProgressMode::Auto && tty_);
        start_ = last_ = Clock::now();
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
        const auto now = Clock::now();
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
    Clock::time_point start_, last_;
};

[[noreturn]] void PluginFail(const std::string& bundle, SInt32 code, const std::string& when) {
    throw HostError(ErrorKind::PluginResult,
                    "plug-in " + bundle + " returned " + DescribeResult(code) + " " + when);
}

} // namespace

RenderStats Render(const RenderRequest& rq) {
    const auto started = Clock::now();
    CheckOutputFree(rq.output, rq.overwrite);

    // Sources.
    std::unique_ptr<FrameSource> video;
    std::unique_ptr<AudioSource> audio;
    FFmpegFrameSource* file = nullptr;
    if (rq.input) {
        auto f = std::make_unique<FFmpegFrameSource>(*rq.input);
        file = f.get();
        video = std::move(f);
    } else {
        video = std::make_unique<GeneratedFrameSource>(kBuiltInWidth, kBuiltInHeight,
                                                       kBuiltInFrames, kBuiltInRate, 1);
        audio = std::make_unique<ToneSource>(48000, 2);
    }
    const std::int64_t total = video->frameCount();
    if (rq.first < 0 || rq.first >= total) {
        throw HostError(ErrorKind::Usage, "--frames starts at " + std::to_string(rq.first) +
                                              " but the clip has " + std::to_string(total) +
                                              " frames");
    }
    std::int64_t count = rq.count ? *rq.count : total - rq.first;
    count = std::min(count, total - rq.first);
    if (count <= 0 || count > INT32_MAX) {
        throw HostError(ErrorKind::Usage, "--frames asks for no frames");
    }
    const int rateNum = video->rateNum(), rateDen = video->rateDen();
    if (file) {
        const double clipStart = file->firstFrameTime() + double(rq.first) * rateDen / rateNum;
        audio = FFmpegAudioSource::Open(*rq.input, clipStart);
    }

    // The plug-in.
    const PluginBundle bundle(rq.plugin);
    const std::string pluginName = bundle.path().filename().string();
    HostSession session(bundle, *video);
    const int width = rq.size ? rq.size->first : video->width();
    const int height = rq.size ? rq.size->second : video->height();
    session.setFrameSize(width, height);
    session.settings() = rq.clip;

    // The output.
    OutputSettings out;
    out.path = rq.output;
    out.overwrite = rq.overwrite;
    out.videoCodec = rq.codec;
    out.lossless = rq.lossless;
    out.width = width;
    out.height = height;
    out.rateNum = rateNum;
    out.rateDen = rateDen;
    out.audio = audio != nullptr;
    if (audio) {
        out.sampleRate = audio->sampleRate();
        out.channels = audio->channels();
        out.pcmHint = audio->nativeFormat();
    }
    MediaWriter writer(out);
    if (audio && writer.sampleRate() != audio->sampleRate() && file) {
        const double clipStart = file->firstFrameTime() + double(rq.first) * rateDen / rateNum;
        audio = FFmpegAudioSource::Open(*rq.input, clipStart, writer.sampleRate());
    }
    const int sampleRate = audio ? audio->sampleRate() : 0;

    if (SInt32 r = session.getInfo(SInt32(count)); r != kPluginOK) {
        PluginFail(pluginName, r, "when asked for its description");
    }
    if (SInt32 r = session.begin(SInt32(rq.first), SInt32(count)); r != kPluginOK) {
        session.end();
        PluginFail(pluginName, r, "when the clip began");
    }

    Progress progress(rq.progress, count);
    std::vector<float*> planePtrs;
    for (std::int64_t i = 0; i < count; ++i) {
        if (rq.interrupted && rq.interrupted->load()) {
            throw HostError(ErrorKind::Interrupted, "interrupted");
        }
        session.clearLog();
        // The plug-in renders straight into the buffer the encoder takes next.
        std::vector<std::uint8_t> pixels = writer.takeBuffer();
        session.attachDestination(pixels.data(), std::ptrdiff_t(width) * 4);
        const SInt32 r = session.frame(SInt32(i));
        if (r != kPluginOK) {
            std::string why = session.lastFrameError();
            session.end();
            if (!why.empty()) {
                throw HostError(ErrorKind::Input, why);
            }
            PluginFail(pluginName, r, "for frame " + std::to_string(rq.first + i));
        }
        writer.pushVideo(std::move(pixels), i);

        if (audio) {
            // This frame's span of the sound, at the level the plug-in mixed it, or silence.
            const std::int64_t s0 = av_rescale(i, std::int64_t(sampleRate) * rateDen, rateNum);
            const std::int64_t s1 = av_rescale(i + 1, std::int64_t(sampleRate) * rateDen, rateNum);
            int level = -1;
            for (const MixRecord& mix : session.log().mixes) {
                if (mix.result == kPluginOK && mix.frameIndex == rq.first + i) {
                    level = mix.level;
                }
            }
            std::vector<std::vector<float>> planes(std::size_t(audio->channels()),
                                                   std::vector<float>(std::size_t(s1 - s0)));
            planePtrs.clear();
            for (auto& p : planes) {
                planePtrs.push_back(p.data());
            }
            audio->read(s0, int(s1 - s0), planePtrs.data());
            if (level != 256) {
                const float gain = level < 0 ? 0.0f : float(level) / 256.0f;
                for (auto& p : planes) {
                    for (float& v : p) {
                        v *= gain;
                    }
                }
            }
            writer.pushAudio(std::move(planes));
        }
        progress.update(i + 1);
    }
    session.clearLog();
    session.setFrameSize(width, height); // the last buffer belongs to the encoder now
    if (SInt32 r = session.end(); r != kPluginOK) {
        PluginFail(pluginName, r, "when the clip ended");
    }
    writer.finish();
    progress.update(count, true);
    return RenderStats{count, std::chrono::duration<double>(Clock::now() - started).count()};
}

} // namespace fxhost::media
