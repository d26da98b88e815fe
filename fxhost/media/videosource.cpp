// videosource.cpp - decoding, seeking and conversion of an input's video stream.
//
// Threads: the worker decodes and converts ahead into a queue of at most kAhead frames;
// the caller (the plug-in's thread, inside GetFrame) takes frames from it. To seek, the
// caller stops the worker, repositions the demuxer and the decoder, and starts it again;
// the demuxer and decoder are only ever touched by one thread at a time. The worker starts
// with the first request, not when the file opens: until then the process has no thread of
// this source's, so whatever the caller sets up in between (an encoder that briefly quiets
// standard error) runs alone.
#include "videosource.h"

#include "ffutil.h"
#include "hosterror.h"
#include "mediainput.h"
#include "turn.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <mutex>
#include <span>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/log.h>
}

namespace fxhost::media {

namespace fs = std::filesystem;

namespace {

std::atomic<std::int64_t> gDecoderErrors{0};

// FFmpeg reports damage it decodes around only in its log. The callback counts the errors
// that decoders log and hands every message on to FFmpeg's own printer, which still applies
// the log level that fxhost set.
void CountingLogCallback(void* avcl, int level, const char* fmt, va_list vl) {
    if (level <= AV_LOG_ERROR && avcl != nullptr) {
        const AVClass* cls = *static_cast<const AVClass* const*>(avcl);
        // A codec context tells whether it decodes or encodes only through get_category.
        const AVClassCategory category =
            cls == nullptr
                ? AV_CLASS_CATEGORY_NA
                : (cls->get_category != nullptr ? cls->get_category(avcl) : cls->category);
        if (category == AV_CLASS_CATEGORY_DECODER) {
            gDecoderErrors.fetch_add(1, std::memory_order_relaxed);
        }
    }
    av_log_default_callback(avcl, level, fmt, vl);
}

void InstallDecoderErrorCounter() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(CountingLogCallback); });
}
constexpr std::size_t kAhead = 3;
// A forward jump further than this is cheaper to seek than to decode through.
constexpr std::int64_t kSeekAhead = 48;

[[noreturn]] void InputFail(const std::string& text) {
    throw HostError(ErrorKind::Input, text);
}

struct Shape {
    int width = 0, height = 0;
    ScaleQuality quality = ScaleQuality::High;
    bool operator==(const Shape&) const = default;
    // Rows padded like the toolbox's own buffers, so that a plug-in's stride bug shows on
    // shared frames too.
    std::ptrdiff_t rowBytes() const { return ((std::ptrdiff_t(width) * 4 + 63) & ~63) + 64; }
    std::size_t bytes() const { return std::size_t(rowBytes()) * std::size_t(height); }
};

// Converted frame buffers, recycled. Shared frames give theirs back when the host lets go,
// which may be after the source is gone: the pool lives as long as any frame holds it.
struct BufferPool {
    std::mutex m;
    std::vector<std::vector<std::uint8_t>> spare;
    std::vector<std::uint8_t> get() {
        std::lock_guard lock(m);
        if (spare.empty()) {
            return {};
        }
        std::vector<std::uint8_t> b = std::move(spare.back());
        spare.pop_back();
        return b;
    }
    void put(std::vector<std::uint8_t>&& b) {
        std::lock_guard lock(m);
        if (spare.size() < 8) {
            spare.push_back(std::move(b));
        }
    }
};

// High quality is libswscale's bicubic path, as ffmpeg's own conversions to RGB: a flat
// colour comes back from ARGB as ffmpeg's path through an RGB filter brings it back (two
// levels of luma off on BT.709 4:2:0). Accurate rounding with chroma interpolated to every
// pixel would bring it back exactly, but costs a seventh more time on a 1080p render
// (bench/fxhost_vs_ffmpeg.sh: 1.29 times ffmpeg's pixelize against 1.13).
int SwsFlags(ScaleQuality q) {
    return q == ScaleQuality::Low ? SWS_FAST_BILINEAR : SWS_BICUBIC;
}

bool FullRange(AVColorRange range, AVPixelFormat format) {
    switch (format) { // the JPEG formats are full range whatever the frame says
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
        return true;
    default:
        return range == AVCOL_RANGE_JPEG;
    }
}

// The decoded picture to ARGB: scaled, with the frame's matrix and range, and turned by
// `rotation` degrees clockwise. One per thread.
struct Converter {
    SwsContext* sws = nullptr;
    int matrix = -1, fullRange = -1;
    std::vector<std::uint32_t> unturned;
    ~Converter() { sws_freeContext(sws); }

    // Forces alpha to 255 when the input carries its own (the host's frames are opaque).
    bool operator()(const AVFrame* f, const PixelTarget& t, ScaleQuality q, int rotation) {
        const bool sideways = rotation == 90 || rotation == 270;
        const int sw = sideways ? t.height : t.width, sh = sideways ? t.width : t.height;
        SwsContext* before = sws;
        sws = sws_getCachedContext(sws, f->width, f->height, AVPixelFormat(f->format), sw, sh,
                                   AV_PIX_FMT_ARGB, SwsFlags(q), nullptr, nullptr, nullptr);
        if (!sws) {
            return false;
        }
        const int m = SwsMatrixOf(f->colorspace);
        const int full = FullRange(f->color_range, AVPixelFormat(f->format)) ? 1 : 0;
        if (sws != before || m != matrix || full != fullRange) {
            // Only YUV input has a matrix and a range; RGB input ignores both.
            SetConversion(sws, m, full, SWS_CS_DEFAULT, true);
            matrix = m;
            fullRange = full;
        }
        std::uint8_t* dst[4] = {t.base, nullptr, nullptr, nullptr};
        int stride[4] = {int(t.rowBytes), 0, 0, 0};
        if (rotation != 0) {
            unturned.resize(std::size_t(sw) * sh);
            dst[0] = reinterpret_cast<std::uint8_t*>(unturned.data());
            stride[0] = sw * 4;
        }
        sws_scale(sws, f->data, f->linesize, 0, f->height, dst, stride);
        if (rotation != 0) {
            Turn(t, sw, sh, rotation);
        }
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(f->format));
        if (d && (d->flags & AV_PIX_FMT_FLAG_ALPHA)) {
            for (int y = 0; y < t.height; ++y) {
                std::uint8_t* row = t.base + y * t.rowBytes;
                for (int x = 0; x < t.width; ++x) {
                    row[4 * x] = 255;
                }
            }
        }
        return true;
    }

    // unturned (sw x sh) into t, turned clockwise.
    void Turn(const PixelTarget& t, int sw, int sh, int rotation) {
        TurnPlane<std::uint32_t>(reinterpret_cast<const std::uint8_t*>(unturned.data()),
                                 std::ptrdiff_t(sw) * 4, sw, sh, t.base, t.rowBytes, rotation);
    }
};

// Whether a request is for the decoded picture itself: its upright size, at High quality.
bool AtOwnSize(const AVFrame& f, int rotation, const Shape& want) {
    const bool sideways = rotation == 90 || rotation == 270;
    return want.quality == ScaleQuality::High && (sideways ? f.height : f.width) == want.width &&
           (sideways ? f.width : f.height) == want.height;
}

// Degrees clockwise that turn the stream's picture upright, from its display matrix.
int RotationOf(const AVStream* st) {
    const std::uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!m) {
        return 0;
    }
    const double ccw = av_display_rotation_get(reinterpret_cast<const std::int32_t*>(m));
    if (std::isnan(ccw)) {
        return 0;
    }
    int cw = int(std::lround(-ccw)) % 360;
    if (cw < 0) {
        cw += 360;
    }
    // Only quarter turns are meaningful for video; others are taken as the nearest.
    return ((cw + 45) / 90) % 4 * 90;
}

} // namespace

struct FFmpegFrameSource::Taken {
    std::vector<std::uint8_t> pixels;
    std::ptrdiff_t rowBytes = 0;
    FramePtr decoded;
    bool native = false; // pixels are decoded's own size (turned upright), at High quality
};

struct FFmpegFrameSource::Impl {
    struct Item {
        std::int64_t index;
        FramePtr frame;
        std::vector<std::uint8_t> argb; // converted to `shape`, rows of shape.rowBytes()
        Shape shape;
    };

    fs::path path;
    InputPtr fmt;
    CodecPtr dec;
    int stream = -1;
    int rotation = 0;
    AVRational tb{1, 1};
    // Presentation timestamps of every frame, in order (from the packets, without decoding).
    std::vector<std::int64_t> pts;
    std::int64_t endPts = 0; // end of the last frame
    PacketPtr pkt = NewPacket();
    bool drained = false; // the demuxer is at its end and the decoder was flushed

    // shared with the worker
    std::mutex m;
    std::condition_variable cv;
    std::deque<Item> queue;
    std::shared_ptr<BufferPool> pool = std::make_shared<BufferPool>();
    Shape expected;
    bool stop = false;
    bool atEnd = false;
    std::string failure;
    std::int64_t startAt = 0;    // the frame decoding was positioned at
    std::int64_t nextIndex = 0;  // the number of the next frame the decoder delivers
    std::int64_t lastIndex = -1; // last frame the worker decoded
    std::int64_t lastTaken = -1; // last frame delivered (caller only)
    std::thread worker;
    Converter workerConvert, callerConvert;

    ~Impl() { stopWorker(); }

    // Next frame in presentation order; false at the end or on a decoding error (then
    // `why` says why).
    bool decodeNext(FramePtr& out, std::string& why) {
        out = NewFrame();
        if (!out || !pkt) {
            why = "out of memory for a frame";
            return false;
        }
        for (;;) {
            int r = avcodec_receive_frame(dec.get(), out.get());
            if (r == 0) {
                return true;
            }
            if (r == AVERROR_EOF) {
                return false;
            }
            if (r != AVERROR(EAGAIN)) {
                why = AvError(r);
                return false;
            }
            if (drained) {
                return false;
            }
            r = av_read_frame(fmt.get(), pkt.get());
            if (r < 0) {
                if (r == AVERROR_EXIT) {
                    why = "interrupted";
                    return false;
                }
                if (r != AVERROR_EOF) {
                    // A read error past the first frame ends the clip like a truncation.
                    why = AvError(r);
                }
                drained = true;
                avcodec_send_packet(dec.get(), nullptr);
                continue;
            }
            if (pkt->stream_index == stream) {
                r = avcodec_send_packet(dec.get(), pkt.get());
                if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_INVALIDDATA) {
                    why = AvError(r);
                    av_packet_unref(pkt.get());
                    return false;
                }
            }
            av_packet_unref(pkt.get());
        }
    }

    void run() {
        for (;;) {
            {
                std::unique_lock lock(m);
                cv.wait(lock, [&] { return stop || queue.size() < kAhead; });
                if (stop) {
                    return;
                }
            }
            FramePtr f;
            std::string why;
            if (!decodeNext(f, why)) {
                std::lock_guard lock(m);
                atEnd = true;
                failure = why;
                cv.notify_all();
                return;
            }
            // After a seek the decoder starts at the key frame before the one asked for.
            const std::int64_t t = f->best_effort_timestamp;
            if (t != AV_NOPTS_VALUE && startAt < std::int64_t(pts.size()) && t < pts[startAt]) {
                continue;
            }
            Shape shape;
            std::int64_t idx;
            {
                std::lock_guard lock(m);
                shape = expected;
                idx = nextIndex++;
                lastIndex = idx;
            }
            Item item{idx, std::move(f), pool->get(), shape};
            item.argb.resize(shape.bytes());
            const PixelTarget target{item.argb.data(), shape.rowBytes(), shape.width, shape.height};
            if (!workerConvert(item.frame.get(), target, shape.quality, rotation)) {
                item.argb.clear();
                item.shape = Shape{};
            }
            std::lock_guard lock(m);
            queue.push_back(std::move(item));
            cv.notify_all();
        }
    }

    void startWorker() {
        stop = false;
        worker = std::thread([this] { run(); });
    }

    void stopWorker() {
        {
            std::lock_guard lock(m);
            stop = true;
        }
        cv.notify_all();
        if (worker.joinable()) {
            worker.join();
        }
    }

    // What a request for `index` can do now (the lock held, frames before it dropped): take
    // the queue's front, seek, give up at the input's end, or wait for the worker.
    enum class Next { Take, Seek, Ended, Wait };
    Next look(std::int64_t index, bool repositioned) {
        while (!queue.empty() && queue.front().index < index) {
            queue.pop_front();
            cv.notify_all();
        }
        if (!queue.empty()) {
            // Only a later frame is queued: going forward, the stream has no frame at this
            // index and the next one stands in; going back, the frame was passed: seek.
            const bool stands = queue.front().index == index || repositioned || index > lastTaken;
            return stands ? Next::Take : Next::Seek;
        }
        const bool backwards = index <= lastTaken || index < startAt;
        if (!repositioned && (backwards || index > lastIndex + kSeekAhead)) {
            return Next::Seek;
        }
        return atEnd ? Next::Ended : Next::Wait;
    }

    // Repositions decoding so that the next frame delivered is `index`. Called with the
    // worker stopped.
    void reposition(std::int64_t index) {
        queue.clear();
        if (av_seek_frame(fmt.get(), stream, pts[index], AVSEEK_FLAG_BACKWARD) < 0) {
            av_seek_frame(fmt.get(), stream, pts[0], AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
        }
        avcodec_flush_buffers(dec.get());
        drained = false;
        atEnd = false;
        failure.clear();
        startAt = index;
        nextIndex = index;
        lastIndex = index - 1;
    }
};

void FFmpegFrameSource::scan(const fs::path& path) {
    Impl& d = *impl_;
    const AVStream* st = d.fmt->streams[d.stream];
    // The frames, from a demuxer of its own: packets only, nothing is decoded.
    InputPtr counter = OpenInput(path);
    PacketPtr p = NewPacket();
    if (!p) {
        throw HostError(ErrorKind::Internal, "out of memory for a packet");
    }
    double lastEnd = 0; // seconds, over every stream: how far the file goes
    std::int64_t lastDuration = 0, maxPts = INT64_MIN, discarded = 0;
    int r;
    while ((r = av_read_frame(counter.get(), p.get())) >= 0) {
        const AVStream* ps = counter->streams[p->stream_index];
        const std::int64_t t = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
        if (t != AV_NOPTS_VALUE) {
            const std::int64_t start = ps->start_time != AV_NOPTS_VALUE ? ps->start_time : 0;
            lastEnd = std::max(lastEnd, double(t - start + p->duration) * av_q2d(ps->time_base));
        }
        // Packets an edit list cuts off are decoded but never shown.
        discarded += p->stream_index == d.stream && (p->flags & AV_PKT_FLAG_DISCARD);
        if (p->stream_index == d.stream && !(p->flags & AV_PKT_FLAG_DISCARD)) {
            d.pts.push_back(t != AV_NOPTS_VALUE ? t
                            : d.pts.empty()
                                ? 0
                                : d.pts.back() + std::max<std::int64_t>(1, p->duration));
            if (d.pts.back() >= maxPts) {
                maxPts = d.pts.back();
                lastDuration = p->duration;
            }
        }
        av_packet_unref(p.get());
    }
    if (r == AVERROR_EXIT) {
        throw HostError(ErrorKind::Interrupted, "interrupted");
    }
    std::sort(d.pts.begin(), d.pts.end());
    d.pts.erase(std::unique(d.pts.begin(), d.pts.end()), d.pts.end());
    const std::int64_t nominal =
        std::max<std::int64_t>(1, av_rescale_q(1, AVRational{rateDen_, rateNum_}, d.tb));
    if (d.pts.empty()) {
        d.pts.push_back(0);
    }
    d.endPts = d.pts.back() + (lastDuration > 0 ? lastDuration : nominal);
    frameCount_ = std::int64_t(d.pts.size());

    // What the file announces: its index's frame count, else its duration.
    announced_ = frameCount_;
    if (st->nb_frames > frameCount_ + discarded) {
        announced_ = st->nb_frames - discarded;
    } else if (st->nb_frames <= 0 && d.fmt->duration > 0) {
        const double announcedSeconds = double(d.fmt->duration) / AV_TIME_BASE;
        const double slack = std::max(0.25, 2.0 * rateDen_ / rateNum_);
        if (lastEnd + slack < announcedSeconds && lastEnd > 0) {
            announced_ = std::max(
                frameCount_ + 1,
                std::int64_t(std::llround(double(frameCount_) * announcedSeconds / lastEnd)));
        }
    }
}

namespace {

// The stream's nominal rate: its average, else its base rate, else 25.
AVRational NominalRate(const AVStream* st) {
    for (AVRational rate : {st->avg_frame_rate, st->r_frame_rate}) {
        if (rate.num > 0 && rate.den > 0) {
            return rate;
        }
    }
    return AVRational{25, 1};
}

// The picture as the first frame and the stream describe it, turned upright by `rotation`.
VideoDescription Describe(AVFormatContext* fmt, AVStream* st, AVFrame* first, int rotation) {
    VideoDescription v;
    v.matrix = first->colorspace;
    v.range = first->color_range;
    v.primaries = first->color_primaries;
    v.transfer = first->color_trc;
    v.format = AVPixelFormat(first->format);
    if (FullRange(v.range, v.format)) {
        v.range = AVCOL_RANGE_JPEG;
    }
    if (const AVPixFmtDescriptor* pd = av_pix_fmt_desc_get(v.format)) {
        v.bitDepth = pd->comp[0].depth;
    }
    v.sampleAspect = av_guess_sample_aspect_ratio(fmt, st, first);
    v.fieldOrder = st->codecpar->field_order;
    if (v.fieldOrder == AV_FIELD_UNKNOWN || v.fieldOrder == AV_FIELD_PROGRESSIVE) {
        if (first->interlaced_frame) {
            v.fieldOrder = first->top_field_first ? AV_FIELD_TT : AV_FIELD_BB;
        }
    }
    v.rotation = rotation;
    if ((v.rotation == 90 || v.rotation == 270) && v.sampleAspect.num > 0) {
        std::swap(v.sampleAspect.num, v.sampleAspect.den);
    }
    return v;
}

} // namespace

// The best video stream's decoder, open; the file's other streams are discarded.
void FFmpegFrameSource::openDecoder(const std::string& name) {
    Impl& d = *impl_;
    AVFormatContext* raw = d.fmt.get();
    d.stream = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (d.stream < 0) {
        InputFail("input '" + name + "' has no video stream");
    }
    AVStream* st = raw->streams[d.stream];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) {
        InputFail("cannot decode the video of '" + name + "': no decoder for codec '" +
                  avcodec_get_name(st->codecpar->codec_id) + "'");
    }
    d.dec.reset(avcodec_alloc_context3(codec));
    if (!d.dec) {
        throw HostError(ErrorKind::Internal, "out of memory for the video decoder");
    }
    if (int r = avcodec_parameters_to_context(d.dec.get(), st->codecpar); r < 0) {
        InputFail("cannot decode the video of '" + name + "': " + AvError(r));
    }
    d.dec->thread_count = 0;
    d.dec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (int r = avcodec_open2(d.dec.get(), codec, nullptr); r < 0) {
        InputFail("cannot decode the video of '" + name + "': " + AvError(r));
    }
    for (AVStream* other : std::span(raw->streams, raw->nb_streams)) {
        if (other != st) {
            other->discard = AVDISCARD_ALL; // audio is read through a demuxer of its own
        }
    }
}

// Frames before the first one that decodes (a stream cut in the middle of a group of
// pictures) are never delivered: the clip starts at the first that does.
void FFmpegFrameSource::startAt(const AVFrame& first) {
    Impl& d = *impl_;
    if (const std::int64_t t = first.best_effort_timestamp; t != AV_NOPTS_VALUE) {
        const auto at = std::lower_bound(d.pts.begin(), d.pts.end(), t);
        if (at != d.pts.begin() && at != d.pts.end()) {
            const std::int64_t skipped = at - d.pts.begin();
            d.pts.erase(d.pts.begin(), at);
            frameCount_ -= skipped;
            announced_ -= skipped;
        }
    }
    firstTime_ = double(d.pts.front()) * av_q2d(d.tb);
}

FFmpegFrameSource::FFmpegFrameSource(const fs::path& path) : impl_(std::make_unique<Impl>()) {
    InstallDecoderErrorCounter();
    Impl& d = *impl_;
    d.path = path;
    const std::string name = path.string();
    CheckInput(path);
    d.fmt = OpenInput(path);
    openDecoder(name);
    AVStream* st = d.fmt->streams[d.stream];
    const AVRational rate = NominalRate(st);
    rateNum_ = rate.num;
    rateDen_ = rate.den;
    d.tb = st->time_base;
    d.rotation = RotationOf(st);

    // The first frame proves that the stream decodes and describes the picture.
    FramePtr first;
    std::string why;
    if (!d.decodeNext(first, why)) {
        if (why == "interrupted") {
            throw HostError(ErrorKind::Interrupted, why);
        }
        InputFail("cannot decode the video of '" + name +
                  "': " + (why.empty() ? std::string("no frame could be decoded") : why));
    }
    scan(path);
    startAt(*first);
    description_ = Describe(d.fmt.get(), st, first.get(), d.rotation);
    const bool sideways = d.rotation == 90 || d.rotation == 270;
    d.expected = Shape{sideways ? first->height : first->width,
                       sideways ? first->width : first->height, ScaleQuality::High};
    // Taken now: once the worker runs, the decoder's context is its alone.
    width_ = d.expected.width;
    height_ = d.expected.height;

    // Hand the first frame to the queue; the worker carries on from there once asked.
    Impl::Item item{0, std::move(first), {}, {}};
    d.lastIndex = 0;
    d.nextIndex = 1;
    d.queue.push_back(std::move(item));
}

FFmpegFrameSource::~FFmpegFrameSource() = default;

FrameSource::TimeBase FFmpegFrameSource::timeBase() const {
    return {impl_->tb.num, impl_->tb.den};
}

std::int64_t FFmpegFrameSource::timestamp(std::int64_t index) const {
    const Impl& d = *impl_;
    if (index < 0) {
        return 0;
    }
    if (index >= std::int64_t(d.pts.size())) {
        return d.endPts - d.pts.front();
    }
    return d.pts[std::size_t(index)] - d.pts.front();
}

bool FFmpegFrameSource::take(std::int64_t index, int width, int height, ScaleQuality quality,
                             Taken& out) {
    Impl& d = *impl_;
    if (index < 0 || index >= frameCount_) {
        error_ = "frame " + std::to_string(index) + " is outside the clip (0.." +
                 std::to_string(frameCount_ - 1) + ")";
        return false;
    }
    const Shape want{width, height, quality};
    std::unique_lock lock(d.m);
    d.expected = want;
    if (!d.worker.joinable()) {
        d.startWorker();
    }
    bool repositioned = false;
    auto restart = [&] {
        lock.unlock();
        d.stopWorker();
        lock.lock();
        d.reposition(index);
        d.startWorker();
        repositioned = true;
    };
    for (Impl::Next next; (next = d.look(index, repositioned)) != Impl::Next::Take;) {
        if (next == Impl::Next::Seek) {
            restart();
            continue;
        }
        if (next == Impl::Next::Ended) {
            inputEnded_ = d.failure != "interrupted";
            error_ = "frame " + std::to_string(index) + " of '" + d.path.string() +
                     "' could not be decoded" +
                     (d.failure.empty() ? " (the input ends before it)" : ": " + d.failure);
            return false;
        }
        d.cv.wait(lock);
    }
    Impl::Item item = std::move(d.queue.front());
    d.queue.pop_front();
    d.lastTaken = index;
    d.cv.notify_all();
    lock.unlock();

    if (!(item.shape == want) || item.argb.empty()) {
        // Asked at another size or quality than the worker expected: convert here.
        item.argb = d.pool->get();
        item.argb.resize(want.bytes());
        const PixelTarget t{item.argb.data(), want.rowBytes(), want.width, want.height};
        if (!d.callerConvert(item.frame.get(), t, quality, d.rotation)) {
            error_ = "cannot convert frame " + std::to_string(index) + " to " +
                     std::to_string(want.width) + "x" + std::to_string(want.height);
            return false;
        }
    }
    out.native = AtOwnSize(*item.frame, d.rotation, want);
    out.pixels = std::move(item.argb);
    out.rowBytes = want.rowBytes();
    out.decoded = std::move(item.frame);
    return true;
}

// The taken pixels as a shared frame that goes back to the pool when its last holder lets
// go; a native frame is also kept, with its decoded picture, as the last one delivered.
FrameSource::SharedFrame FFmpegFrameSource::keep(std::int64_t index, Taken& t) {
    auto holder = std::make_shared<std::vector<std::uint8_t>>(std::move(t.pixels));
    std::uint8_t* base = holder->data();
    std::weak_ptr<BufferPool> pool = impl_->pool;
    std::shared_ptr<void> owner(holder.get(), [holder, pool](void*) mutable {
        if (auto p = pool.lock()) {
            p->put(std::move(*holder));
        }
    });
    SharedFrame shared{base, t.rowBytes, std::move(owner)};
    last_.reset();
    if (t.native) {
        last_ = Delivered{std::shared_ptr<const AVFrame>(t.decoded.release(), FrameFreer()),
                          shared};
        lastIndex_ = index;
    }
    return shared;
}

std::optional<FFmpegFrameSource::Delivered> FFmpegFrameSource::delivered(std::int64_t index) const {
    if (!last_ || lastIndex_ != index) {
        return std::nullopt;
    }
    return last_;
}

bool FFmpegFrameSource::fetch(std::int64_t index, const PixelTarget& target, ScaleQuality quality) {
    Taken t;
    if (!take(index, target.width, target.height, quality, t)) {
        return false;
    }
    for (int y = 0; y < target.height; ++y) {
        std::memcpy(target.base + y * target.rowBytes, t.pixels.data() + y * t.rowBytes,
                    std::size_t(target.width) * 4);
    }
    if (t.native) {
        keep(index, t);
    } else {
        last_.reset();
        impl_->pool->put(std::move(t.pixels));
    }
    return true;
}

std::optional<FrameSource::SharedFrame> FFmpegFrameSource::share(std::int64_t index, int width,
                                                                 int height, ScaleQuality quality) {
    Taken t;
    if (!take(index, width, height, quality, t)) {
        return std::nullopt;
    }
    return keep(index, t);
}

std::int64_t DecoderErrorCount() {
    return gDecoderErrors.load(std::memory_order_relaxed);
}

} // namespace fxhost::media
