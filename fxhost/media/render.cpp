// render.cpp - the render loop. The plug-in runs on this thread; decoding runs ahead on
// the frame source's worker and encoding behind on the writer's, so all three overlap.
#include "render.h"

#include "audiosource.h"
#include "frameeffect.h"
#include "hosterror.h"
#include "outputfile.h"
#include "progress.h"
#include "resultnames.h"
#include "videosource.h"
#include "writer.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace fxhost::media {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void PluginFail(const std::string& bundle, SInt32 code, const std::string& when) {
    throw HostError(ErrorKind::PluginResult,
                    "plug-in " + bundle + " returned " + DescribeResult(code) + " " + when);
}

void PushRemainingSound(AudioSource& audio, MediaWriter& writer, float gain) {
    for (;;) {
        std::vector<std::vector<float>> planes = audio.readRest(audio.sampleRate());
        if (planes.empty() || planes[0].empty()) {
            return;
        }
        for (auto& p : planes) {
            for (float& v : p) {
                v *= gain;
            }
        }
        writer.pushAudio(std::move(planes));
    }
}

} // namespace

// The first index in [lo, hi) whose frame starts at or after `ts` (hi when none does).
std::int64_t FirstAtOrAfter(const FrameSource& v, std::int64_t ts, std::int64_t lo,
                            std::int64_t hi) {
    while (lo < hi) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        if (v.timestamp(mid) < ts) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

RenderStats Render(const RenderRequest& rq) {
    const auto started = Clock::now();
    CheckOutputFree(rq.output, rq.overwrite);
    if (rq.input) {
        CheckNotInput(rq.output, *rq.input, rq.replaceInput);
    }

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
        if (!rq.noAudio) {
            audio = std::make_unique<ToneSource>(48000, 2);
        }
    }
    const std::int64_t total = video->frameCount();
    const std::int64_t announced = file ? file->announcedFrames() : total;
    const FrameSource::TimeBase tb = video->timeBase();
    std::int64_t first = rq.first;
    std::optional<std::int64_t> wanted = rq.count;
    if (rq.startTime || rq.duration || rq.endTime) {
        auto ts = [&](double seconds) {
            return std::int64_t(std::ceil(seconds * tb.den / tb.num - 1e-6));
        };
        const double from = rq.startTime.value_or(0.0);
        first = FirstAtOrAfter(*video, ts(from), 0, total);
        if (first >= total) {
            throw HostError(ErrorKind::Usage,
                            "-ss " + std::to_string(from) + " starts after the clip's last frame");
        }
        if (rq.duration || rq.endTime) {
            const double to = rq.duration ? from + *rq.duration : *rq.endTime;
            wanted = FirstAtOrAfter(*video, ts(to), first, total) - first;
            if (*wanted <= 0) {
                throw HostError(ErrorKind::Usage, "the time selected holds no frame");
            }
        }
    }
    if (first < 0 || first >= total) {
        throw HostError(ErrorKind::Usage, "--frames starts at " + std::to_string(first) +
                                              " but the clip has " + std::to_string(total) +
                                              " frames");
    }
    std::int64_t count = wanted ? *wanted : total - first;
    count = std::min(count, total - first);
    if (count <= 0 || count > INT32_MAX) {
        throw HostError(ErrorKind::Usage, "--frames asks for no frames");
    }
    // How many frames a whole input would have given.
    const std::int64_t expected =
        std::max(count, wanted ? std::min(*wanted, announced - first) : announced - first);
    const int rateNum = video->rateNum(), rateDen = video->rateDen();
    const std::int64_t t0 = video->timestamp(first);
    const double clipStart = file ? file->firstFrameTime() + double(t0) * tb.num / tb.den : 0.0;
    if (file && !rq.noAudio) {
        audio = FFmpegAudioSource::Open(*rq.input, clipStart);
    }

    // The plug-in: the bundle, or tessera.so with a track.
    const int width = rq.size ? rq.size->first : video->width();
    const int height = rq.size ? rq.size->second : video->height();
    const std::unique_ptr<FrameEffect> effect =
        rq.track ? MakeTrackEffect(*rq.track, *video, first, count, total, width, height,
                                   rq.clip.proxyOnly)
                 : MakeBundleEffect(rq.plugin, rq.clip, *video);
    FrameEffect& session = *effect;
    const std::string& pluginName = session.name();
    session.setFrameSize(width, height);

    // The output.
    OutputSettings out;
    out.path = rq.output;
    out.overwrite = rq.overwrite;
    out.videoCodec = rq.codec;
    out.lossless = rq.lossless;
    out.crf = rq.crf;
    out.preset = rq.preset;
    out.pixelFormat = rq.pixelFormat;
    out.width = width;
    out.height = height;
    out.rateNum = rateNum;
    out.rateDen = rateDen;
    out.timeNum = tb.num;
    out.timeDen = tb.den;
    if (file) {
        const VideoDescription& d = file->description();
        out.matrix = d.matrix;
        out.range = d.range;
        out.primaries = d.primaries;
        out.transfer = d.transfer;
        out.fieldOrder = d.fieldOrder;
        out.bitDepth = d.bitDepth;
        out.sampleAspect = d.sampleAspect;
        if (d.sampleAspect.num > 0 && (width != video->width() || height != video->height())) {
            // A new size keeps the picture's shape, as ffmpeg's scale filter does.
            av_reduce(&out.sampleAspect.num, &out.sampleAspect.den,
                      std::int64_t(d.sampleAspect.num) * video->width() * height,
                      std::int64_t(d.sampleAspect.den) * video->height() * width, INT32_MAX);
        }
    }
    if (file && !rq.stripMetadata) {
        out.tags = ReadContainerTags(*rq.input, clipStart);
    }
    out.audio = audio != nullptr;
    if (audio) {
        out.sampleRate = audio->sampleRate();
        out.channels = audio->channels();
        out.pcmHint = audio->nativeFormat();
    }
    MediaWriter writer(out);
    if (!writer.depthWarning().empty()) {
        std::fprintf(stderr, "fxhost: warning: %s\n", writer.depthWarning().c_str());
    }
    if (audio && writer.sampleRate() != audio->sampleRate() && file) {
        audio = FFmpegAudioSource::Open(*rq.input, clipStart, writer.sampleRate());
    }
    const int sampleRate = audio ? audio->sampleRate() : 0;
    auto sampleAt = [&](std::int64_t index) {
        return av_rescale_q(video->timestamp(index) - t0, AVRational{tb.num, tb.den},
                            AVRational{1, sampleRate});
    };

    if (SInt32 r = session.getInfo(SInt32(count)); r != kPluginOK) {
        PluginFail(pluginName, r, "when asked for its description");
    }
    if (SInt32 r = session.begin(SInt32(first), SInt32(count)); r != kPluginOK) {
        session.end();
        PluginFail(pluginName, r, "when the clip began");
    }

    Progress progress(rq.progress, count);
    std::vector<float*> planePtrs;
    float lastGain = 1.0f;
    std::int64_t rendered = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        if (rq.interrupted && rq.interrupted->load()) {
            throw HostError(ErrorKind::Interrupted, "interrupted");
        }
        // The plug-in renders straight into the buffer the encoder takes next.
        std::vector<std::uint8_t> pixels = writer.takeBuffer();
        session.attachDestination(pixels.data(), std::ptrdiff_t(width) * 4);
        const SInt32 r = session.frame(SInt32(i));
        if (r != kPluginOK) {
            if (rq.interrupted && rq.interrupted->load()) {
                throw HostError(ErrorKind::Interrupted, "interrupted");
            }
            if (file && file->inputEnded() && i > 0) {
                break; // a cut file: what came before is the output
            }
            std::string why = session.lastFrameError();
            session.end();
            if (!why.empty()) {
                throw HostError(ErrorKind::Input, why);
            }
            PluginFail(pluginName, r, "for frame " + std::to_string(first + i));
        }
        writer.pushVideo(std::move(pixels), video->timestamp(first + i) - t0);
        rendered = i + 1;

        if (audio) {
            // The sound until the next frame, at the level the plug-in mixed it, or silence;
            // in pieces of at most a second, however long the gap to the next frame.
            const std::optional<SInt16> mixed = session.mixedLevel(SInt32(first + i));
            const float gain = mixed ? float(*mixed) / 256.0f : 0.0f;
            lastGain = gain;
            const std::int64_t end = sampleAt(first + i + 1);
            for (std::int64_t s0 = sampleAt(first + i); s0 < end;) {
                const std::int64_t s1 = std::min(end, s0 + sampleRate);
                std::vector<std::vector<float>> planes(std::size_t(audio->channels()),
                                                       std::vector<float>(std::size_t(s1 - s0)));
                planePtrs.clear();
                for (auto& p : planes) {
                    planePtrs.push_back(p.data());
                }
                audio->read(s0, int(s1 - s0), planePtrs.data());
                if (gain != 1.0f) {
                    for (auto& p : planes) {
                        for (float& v : p) {
                            v *= gain;
                        }
                    }
                }
                writer.pushAudio(std::move(planes));
                s0 = s1;
            }
        }
        progress.update(i + 1);
    }
    if (audio && !wanted && first + rendered == total) {
        // The whole clip to its end: sound that runs on past the last picture is kept, at
        // the last frame's level, as ffmpeg keeps it.
        PushRemainingSound(*audio, writer, lastGain);
    }
    session.setFrameSize(width, height); // the last buffer belongs to the encoder now
    if (SInt32 r = session.end(); r != kPluginOK) {
        PluginFail(pluginName, r, "when the clip ended");
    }
    writer.finish();
    progress.update(rendered, true);
    return RenderStats{rendered, std::max(expected, rendered),
                       std::chrono::duration<double>(Clock::now() - started).count()};
}

} // namespace fxhost::media
