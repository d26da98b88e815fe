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

// Sound at the level the plug-in mixed it, to the writer.
void PushAtGain(MediaWriter& writer, std::vector<std::vector<float>>&& planes, float gain) {
    if (gain != 1.0f) {
        for (auto& p : planes) {
            for (float& v : p) {
                v *= gain;
            }
        }
    }
    writer.pushAudio(std::move(planes));
}

void PushRemainingSound(AudioSource& audio, MediaWriter& writer, float gain) {
    for (;;) {
        std::vector<std::vector<float>> planes = audio.readRest(audio.sampleRate());
        if (planes.empty() || planes[0].empty()) {
            return;
        }
        PushAtGain(writer, std::move(planes), gain);
    }
}

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

// The clip's frames and sound: the input file's, or the built-in clip and its tone.
struct Sources {
    std::unique_ptr<FrameSource> video;
    std::unique_ptr<AudioSource> audio; // opened by SelectFrames for a file
    FFmpegFrameSource* file = nullptr;  // the video, when it is a file
};

Sources OpenSources(const RenderRequest& rq) {
    Sources s;
    if (rq.input) {
        auto f = std::make_unique<FFmpegFrameSource>(*rq.input);
        s.file = f.get();
        s.video = std::move(f);
    } else {
        s.video = std::make_unique<GeneratedFrameSource>(kBuiltInWidth, kBuiltInHeight,
                                                         kBuiltInFrames, kBuiltInRate, 1);
        if (!rq.noAudio) {
            s.audio = std::make_unique<ToneSource>(48000, 2);
        }
    }
    return s;
}

// The frames the request selects, by index or by time.
struct Selection {
    std::int64_t first = 0, count = 0;
    std::optional<std::int64_t> wanted; // the count asked for, if one was
    std::int64_t expected = 0;          // how many frames a whole input would have given
    std::int64_t t0 = 0;                // the first frame's timestamp
    double clipStart = 0;               // its time in the file, seconds
};

Selection SelectFrames(const RenderRequest& rq, const Sources& src) {
    const FrameSource& video = *src.video;
    const std::int64_t total = video.frameCount();
    const FrameSource::TimeBase tb = video.timeBase();
    Selection sel;
    sel.first = rq.first;
    sel.wanted = rq.count;
    if (rq.startTime || rq.duration || rq.endTime) {
        auto ts = [&](double seconds) {
            return std::int64_t(std::ceil(seconds * tb.den / tb.num - 1e-6));
        };
        const double from = rq.startTime.value_or(0.0);
        sel.first = FirstAtOrAfter(video, ts(from), 0, total);
        if (sel.first >= total) {
            throw HostError(ErrorKind::Usage,
                            "-ss " + std::to_string(from) + " starts after the clip's last frame");
        }
        if (rq.duration || rq.endTime) {
            const double to = rq.duration ? from + *rq.duration : *rq.endTime;
            sel.wanted = FirstAtOrAfter(video, ts(to), sel.first, total) - sel.first;
            if (*sel.wanted <= 0) {
                throw HostError(ErrorKind::Usage, "the time selected holds no frame");
            }
        }
    }
    if (sel.first < 0 || sel.first >= total) {
        throw HostError(ErrorKind::Usage, "--frames starts at " + std::to_string(sel.first) +
                                              " but the clip has " + std::to_string(total) +
                                              " frames");
    }
    sel.count = std::min(sel.wanted.value_or(total - sel.first), total - sel.first);
    if (sel.count <= 0 || sel.count > INT32_MAX) {
        throw HostError(ErrorKind::Usage, "--frames asks for no frames");
    }
    const std::int64_t announced = src.file ? src.file->announcedFrames() : total;
    const std::int64_t whole = announced - sel.first;
    sel.expected = std::max(sel.count, sel.wanted ? std::min(*sel.wanted, whole) : whole);
    sel.t0 = video.timestamp(sel.first);
    sel.clipStart =
        src.file ? src.file->firstFrameTime() + double(sel.t0) * tb.num / tb.den : 0.0;
    return sel;
}

// The output described as the request asks and as the input is.
OutputSettings OutputFor(const RenderRequest& rq, const Sources& src, const Selection& sel,
                         int width, int height) {
    const FrameSource& video = *src.video;
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
    out.rateNum = video.rateNum();
    out.rateDen = video.rateDen();
    out.timeNum = video.timeBase().num;
    out.timeDen = video.timeBase().den;
    if (src.file) {
        out.picture = src.file->description();
        const AVRational sar = out.picture.sampleAspect;
        if (sar.num > 0 && (width != video.width() || height != video.height())) {
            // A new size keeps the picture's shape, as ffmpeg's scale filter does.
            av_reduce(&out.picture.sampleAspect.num, &out.picture.sampleAspect.den,
                      std::int64_t(sar.num) * video.width() * height,
                      std::int64_t(sar.den) * video.height() * width, INT32_MAX);
        }
        if (!rq.stripMetadata) {
            out.tags = ReadContainerTags(*rq.input, sel.clipStart);
        }
    }
    out.audio = src.audio != nullptr;
    if (src.audio) {
        out.sampleRate = src.audio->sampleRate();
        out.channels = src.audio->channels();
        out.pcmHint = src.audio->nativeFormat();
    }
    return out;
}

// Samples [s0, end) of the sound at `gain`, in pieces of at most a second.
void PushSound(AudioSource& audio, MediaWriter& writer, float gain, std::int64_t s0,
               std::int64_t end) {
    std::vector<float*> planePtrs;
    while (s0 < end) {
        const std::int64_t s1 = std::min(end, s0 + audio.sampleRate());
        std::vector<std::vector<float>> planes(std::size_t(audio.channels()),
                                               std::vector<float>(std::size_t(s1 - s0)));
        planePtrs.clear();
        for (auto& p : planes) {
            planePtrs.push_back(p.data());
        }
        audio.read(s0, int(s1 - s0), planePtrs.data());
        PushAtGain(writer, std::move(planes), gain);
        s0 = s1;
    }
}

void BeginClip(FrameEffect& session, const Selection& sel) {
    if (SInt32 r = session.getInfo(SInt32(sel.count)); r != kPluginOK) {
        PluginFail(session.name(), r, "when asked for its description");
    }
    if (SInt32 r = session.begin(SInt32(sel.first), SInt32(sel.count)); r != kPluginOK) {
        session.end();
        PluginFail(session.name(), r, "when the clip began");
    }
}

// What a frame the plug-in did not render means: the end of a cut file (false: the frames
// before are the output), or a failure, thrown.
bool FrameFailed(const RenderRequest& rq, FrameEffect& session, const Sources& src,
                 std::int64_t i, std::int64_t index, SInt32 r) {
    if (rq.interrupted && rq.interrupted->load()) {
        throw HostError(ErrorKind::Interrupted, "interrupted");
    }
    if (src.file && src.file->inputEnded() && i > 0) {
        return false;
    }
    std::string why = session.lastFrameError();
    session.end();
    if (!why.empty()) {
        throw HostError(ErrorKind::Input, why);
    }
    PluginFail(session.name(), r, "for frame " + std::to_string(index));
}

// The rendered frame to the writer, with the frame the plug-in was given when that was the
// file's own: what the plug-in left alone goes out as it was decoded.
void PushFrame(MediaWriter& writer, const Sources& src, std::int64_t index,
               std::vector<std::uint8_t>&& pixels, std::int64_t timestamp) {
    const auto given = src.file ? src.file->delivered(index) : std::nullopt;
    if (!given) {
        writer.pushVideo(std::move(pixels), timestamp);
        return;
    }
    const SourcePicture picture{given->decoded.get(), given->argb.base, given->argb.rowBytes};
    writer.pushVideo(std::move(pixels), timestamp, &picture);
}

// How far the frame loop got: the frames rendered, and the sound level of the last one.
struct Played {
    std::int64_t rendered = 0;
    float lastGain = 1.0f;
};

// The selected frames in order, each rendered straight into the buffer the encoder takes
// next (`width` pixels a row) and followed by the sound until the next frame.
Played PlayFrames(const RenderRequest& rq, const Sources& src, const Selection& sel,
                  FrameEffect& session, MediaWriter& writer, int width, Progress& progress) {
    const FrameSource& video = *src.video;
    const FrameSource::TimeBase tb = video.timeBase();
    const auto sampleAt = [&](std::int64_t index) {
        return av_rescale_q(video.timestamp(index) - sel.t0, AVRational{tb.num, tb.den},
                            AVRational{1, src.audio->sampleRate()});
    };
    Played played;
    for (std::int64_t i = 0; i < sel.count; ++i) {
        if (rq.interrupted && rq.interrupted->load()) {
            throw HostError(ErrorKind::Interrupted, "interrupted");
        }
        const std::int64_t index = sel.first + i;
        std::vector<std::uint8_t> pixels = writer.takeBuffer();
        session.attachDestination(pixels.data(), std::ptrdiff_t(width) * 4);
        if (const SInt32 r = session.frame(SInt32(i));
            r != kPluginOK && !FrameFailed(rq, session, src, i, index, r)) {
            break; // a cut file: what came before is the output
        }
        PushFrame(writer, src, index, std::move(pixels), video.timestamp(index) - sel.t0);
        played.rendered = i + 1;
        if (src.audio) {
            // The sound until the next frame, at the level the plug-in mixed it, or silence.
            const std::optional<SInt16> mixed = session.mixedLevel(SInt32(index));
            played.lastGain = mixed ? float(*mixed) / 256.0f : 0.0f;
            PushSound(*src.audio, writer, played.lastGain, sampleAt(index), sampleAt(index + 1));
        }
        progress.update(i + 1);
    }
    return played;
}

} // namespace

RenderStats Render(const RenderRequest& rq) {
    const auto started = Clock::now();
    CheckOutputFree(rq.output, rq.overwrite);
    if (rq.input) {
        CheckNotInput(rq.output, *rq.input, rq.replaceInput);
    }
    Sources src = OpenSources(rq);
    FrameSource& video = *src.video;
    const Selection sel = SelectFrames(rq, src);
    if (src.file && !rq.noAudio) {
        src.audio = FFmpegAudioSource::Open(*rq.input, sel.clipStart);
    }

    // The plug-in: the bundle, or tessera.so with a track.
    const int width = rq.size ? rq.size->first : video.width();
    const int height = rq.size ? rq.size->second : video.height();
    const std::unique_ptr<FrameEffect> effect =
        rq.track ? MakeTrackEffect(*rq.track, video, sel.first, sel.count, video.frameCount(),
                                   width, height, rq.clip.proxyOnly)
                 : MakeBundleEffect(rq.plugin, rq.clip, video);
    FrameEffect& session = *effect;
    session.setFrameSize(width, height);

    MediaWriter writer(OutputFor(rq, src, sel, width, height));
    if (!writer.depthWarning().empty()) {
        std::fprintf(stderr, "fxhost: warning: %s\n", writer.depthWarning().c_str());
    }
    if (src.audio && writer.sampleRate() != src.audio->sampleRate() && src.file) {
        src.audio = FFmpegAudioSource::Open(*rq.input, sel.clipStart, writer.sampleRate());
    }
    BeginClip(session, sel);

    Progress progress(rq.progress, sel.count);
    const auto [rendered, lastGain] = PlayFrames(rq, src, sel, session, writer, width, progress);
    if (src.audio && !sel.wanted && sel.first + rendered == video.frameCount()) {
        // The whole clip to its end: sound that runs on past the last picture is kept, at
        // the last frame's level, as ffmpeg keeps it.
        PushRemainingSound(*src.audio, writer, lastGain);
    }
    session.setFrameSize(width, height); // the last buffer belongs to the encoder now
    if (SInt32 r = session.end(); r != kPluginOK) {
        PluginFail(session.name(), r, "when the clip ended");
    }
    writer.finish();
    progress.update(rendered, true);
    return RenderStats{rendered, std::max(sel.expected, rendered),
                       std::chrono::duration<double>(Clock::now() - started).count()};
}

} // namespace fxhost::media
