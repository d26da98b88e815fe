// videosource.cpp - decoding, seeking and conversion of an input's video stream.
//
// Threads: the worker decodes and converts ahead into a queue of at most kAhead frames;
// the caller (the plug-in's thread, inside GetFrame) takes frames from it. To seek, the
// caller stops the worker, repositions the demuxer and the decoder, and starts it again;
// the demuxer and decoder are only ever touched by one thread at a time.
#include "videosource.h"

#include "ffutil.h"
#include "hosterror.h"

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <span>
#include <unistd.h>

extern "C" {
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

int SwsFlags(ScaleQuality q) {
    return q == ScaleQuality::Low ? SWS_FAST_BILINEAR : SWS_BICUBIC;
}

// Converts one decoded frame to ARGB into target; forces alpha to 255 when the input
// carries its own (the host's frames are opaque).
bool Convert(SwsContext*& sws, const AVFrame* f, const PixelTarget& t, ScaleQuality q) {
    sws = sws_getCachedContext(sws, f->width, f->height, AVPixelFormat(f->format), t.width,
                               t.height, AV_PIX_FMT_ARGB, SwsFlags(q), nullptr, nullptr, nullptr);
    if (!sws) {
        return false;
    }
    std::uint8_t* dst[4] = {t.base, nullptr, nullptr, nullptr};
    int stride[4] = {int(t.rowBytes), 0, 0, 0};
    sws_scale(sws, f->data, f->linesize, 0, f->height, dst, stride);
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

} // namespace

struct FFmpegFrameSource::Taken {
    std::vector<std::uint8_t> pixels;
    std::ptrdiff_t rowBytes = 0;
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
    AVRational tb{1, 1};
    double frameDur = 1; // in stream time base units
    std::int64_t firstPts = 0;
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
    std::int64_t startAt = 0;
    std::int64_t lastIndex = -1; // last frame the worker decoded
    std::int64_t lastTaken = -1; // last frame delivered (caller only)
    std::thread worker;
    SwsContext* workerSws = nullptr;
    SwsContext* callerSws = nullptr;

    ~Impl() {
        stopWorker();
        sws_freeContext(workerSws);
        sws_freeContext(callerSws);
    }

    std::int64_t indexOf(const AVFrame* f) {
        const std::int64_t pts = f->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) {
            return lastIndex + 1;
        }
        return std::llround(double(pts - firstPts) / frameDur);
    }

    // Next frame in presentation order; false at the end or on a decoding error (then
    // `failure` says why).
    bool decodeNext(FramePtr& out, std::string& why) {
        out = NewFrame();
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
            const std::int64_t idx = indexOf(f.get());
            if (idx < startAt) {
                continue;
            }
            Shape shape;
            {
                std::lock_guard lock(m);
                shape = expected;
                lastIndex = idx;
            }
            Item item{idx, std::move(f), pool->get(), shape};
            item.argb.resize(shape.bytes());
            const PixelTarget t{item.argb.data(), shape.rowBytes(), shape.width, shape.height};
            if (!Convert(workerSws, item.frame.get(), t, shape.quality)) {
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

    // Repositions decoding so that the next frame delivered is `index` (or the first one
    // after it). Called with the worker stopped.
    void reposition(std::int64_t index) {
        queue.clear();
        const std::int64_t ts = firstPts + std::int64_t(std::floor(double(index) * frameDur));
        if (av_seek_frame(fmt.get(), stream, ts, AVSEEK_FLAG_BACKWARD) < 0) {
            av_seek_frame(fmt.get(), stream, firstPts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
        }
        avcodec_flush_buffers(dec.get());
        drained = false;
        atEnd = false;
        failure.clear();
        startAt = index;
        lastIndex = index - 1;
    }
};

FFmpegFrameSource::FFmpegFrameSource(const fs::path& path) : impl_(std::make_unique<Impl>()) {
    InstallDecoderErrorCounter();
    Impl& d = *impl_;
    d.path = path;
    const std::string name = path.string();
    std::error_code ec;
    // A URL is FFmpeg's to open; a path is checked first, so that a missing or unreadable
    // file is named as such rather than as "not a media file".
    if (name.find("://") == std::string::npos) {
        if (!fs::exists(path, ec)) {
            InputFail("input '" + name + "' does not exist");
        }
        if (fs::is_directory(path, ec)) {
            InputFail("input '" + name + "' is a directory");
        }
        if (access(path.c_str(), R_OK) != 0) {
            InputFail("input '" + name + "' cannot be read: " + std::strerror(errno));
        }
    }
    AVFormatContext* raw = nullptr;
    int r = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (r < 0) {
        InputFail("input '" + name + "' is not a readable media file: " + AvError(r));
    }
    d.fmt.reset(raw);
    r = avformat_find_stream_info(raw, nullptr);
    if (r < 0) {
        InputFail("input '" + name + "' is not a readable media file: " + AvError(r));
    }
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
    avcodec_parameters_to_context(d.dec.get(), st->codecpar);
    d.dec->thread_count = 0;
    d.dec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if ((r = avcodec_open2(d.dec.get(), codec, nullptr)) < 0) {
        InputFail("cannot decode the video of '" + name + "': " + AvError(r));
    }
    for (AVStream* other : std::span(raw->streams, raw->nb_streams)) {
        if (other != st) {
            other->discard = AVDISCARD_ALL; // audio is read through a demuxer of its own
        }
    }
    AVRational rate = st->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) {
        rate = st->r_frame_rate;
    }
    if (rate.num <= 0 || rate.den <= 0) {
        rate = AVRational{25, 1};
    }
    rateNum_ = rate.num;
    rateDen_ = rate.den;
    d.tb = st->time_base;
    d.frameDur = double(d.tb.den) * rate.den / (double(d.tb.num) * rate.num);

    // The first frame fixes frame 0's timestamp and proves that the stream decodes.
    FramePtr first;
    std::string why;
    if (!d.decodeNext(first, why)) {
        InputFail("cannot decode the video of '" + name +
                  "': " + (why.empty() ? std::string("no frame could be decoded") : why));
    }
    d.firstPts = first->best_effort_timestamp != AV_NOPTS_VALUE ? first->best_effort_timestamp : 0;
    firstTime_ = double(d.firstPts) * av_q2d(d.tb);
    d.expected = Shape{first->width, first->height, ScaleQuality::High};

    // Length: from the container when it says, else by counting the stream's packets.
    frameCount_ = st->nb_frames;
    if (frameCount_ <= 0) {
        AVFormatContext* counter = nullptr;
        if (avformat_open_input(&counter, path.c_str(), nullptr, nullptr) == 0) {
            InputPtr hold(counter);
            if (avformat_find_stream_info(counter, nullptr) >= 0) {
                PacketPtr p = NewPacket();
                while (av_read_frame(counter, p.get()) >= 0) {
                    frameCount_ += p->stream_index == d.stream;
                    av_packet_unref(p.get());
                }
            }
        }
    }
    if (frameCount_ <= 0 && raw->duration > 0) {
        frameCount_ = std::llround(double(raw->duration) / AV_TIME_BASE * av_q2d(rate));
    }
    if (frameCount_ <= 0) {
        frameCount_ = 1;
    }

    // Hand the first frame to the queue and let the worker carry on from there.
    Impl::Item item{0, std::move(first), {}, {}};
    d.lastIndex = 0;
    d.queue.push_back(std::move(item));
    d.startWorker();
}

FFmpegFrameSource::~FFmpegFrameSource() = default;

int FFmpegFrameSource::width() const {
    return impl_->dec->width;
}
int FFmpegFrameSource::height() const {
    return impl_->dec->height;
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
    bool repositioned = false;
    auto restart = [&] {
        lock.unlock();
        d.stopWorker();
        lock.lock();
        d.reposition(index);
        d.startWorker();
        repositioned = true;
    };
    for (;;) {
        while (!d.queue.empty() && d.queue.front().index < index) {
            d.queue.pop_front();
            d.cv.notify_all();
        }
        if (!d.queue.empty()) {
            // Only a later frame is queued: going forward, the stream has no frame at this
            // index and the next one stands in; going back, the frame was passed: seek.
            if (d.queue.front().index == index || repositioned || index > d.lastTaken) {
                break;
            }
            restart();
            continue;
        }
        const bool backwards = index <= d.lastTaken || index < d.startAt;
        if (!repositioned && (backwards || index > d.lastIndex + kSeekAhead)) {
            restart();
            continue;
        }
        if (d.atEnd) {
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
        if (!Convert(d.callerSws, item.frame.get(), t, quality)) {
            error_ = "cannot convert frame " + std::to_string(index) + " to " +
                     std::to_string(want.width) + "x" + std::to_string(want.height);
            return false;
        }
    }
    out.pixels = std::move(item.argb);
    out.rowBytes = want.rowBytes();
    return true;
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
    impl_->pool->put(std::move(t.pixels));
    return true;
}

std::optional<FrameSource::SharedFrame> FFmpegFrameSource::share(std::int64_t index, int width,
                                                                 int height, ScaleQuality quality) {
    Taken t;
    if (!take(index, width, height, quality, t)) {
        return std::nullopt;
    }
    auto holder = std::make_shared<std::vector<std::uint8_t>>(std::move(t.pixels));
    std::uint8_t* base = holder->data();
    std::weak_ptr<BufferPool> pool = impl_->pool;
    std::shared_ptr<void> owner(holder.get(), [holder, pool](void*) mutable {
        if (auto p = pool.lock()) {
            p->put(std::move(*holder));
        }
    });
    return SharedFrame{base, t.rowBytes, std::move(owner)};
}

std::int64_t DecoderErrorCount() {
    return gDecoderErrors.load(std::memory_order_relaxed);
}

} // namespace fxhost::media
