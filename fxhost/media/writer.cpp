// writer.cpp - the output file: encoders, the encoding thread and the final rename.
// Rendered frames are converted to the encoder's pixel format on the caller's thread, as
// they are pushed, so that the encoding thread only feeds the encoders and the muxer: the
// conversion overlaps the encoder's own work instead of queueing behind it.
#include "writer.h"

#include "mediainput.h"

#include "ffutil.h"
#include "hosterror.h"
#include "keptpixels.h"
#include "outputfile.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <optional>
#include <span>
#include <unistd.h>

namespace fxhost::media {

namespace fs = std::filesystem;

namespace {
constexpr std::size_t kQueueFrames = 2;

// Standard error sent to /dev/null for the guard's life, unless FFmpeg's log is wanted. The swap is
// process-wide: it is made only while no other thread of fxhost's runs (the encoder opens
// before the frame source's worker starts, which waits for the first frame asked for).
class QuietStderr {
  public:
    QuietStderr() {
        if (std::getenv("FXHOST_FFMPEG_LOG")) {
            return;
        }
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && null >= 0) {
            ::dup2(null, 2);
        }
        if (null >= 0) {
            ::close(null);
        }
    }
    ~QuietStderr() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, 2);
            ::close(saved_);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    int saved_ = -1;
};

[[noreturn]] void OutOfMemory(const char* what) {
    throw HostError(ErrorKind::Internal, std::string("out of memory for ") + what);
}

// Null from an FFmpeg allocation is out of memory, said in one line rather than followed.
template <typename T> T* Need(T* object, const char* what) {
    if (!object) {
        OutOfMemory(what);
    }
    return object;
}

[[noreturn]] void OutputFail(const std::string& text) {
    throw HostError(ErrorKind::Output, text);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool IsH264Container(const fs::path& p) {
    const std::string ext = Lower(p.extension().string());
    return ext == ".mp4" || ext == ".mov" || ext == ".mkv" || ext == ".m4v";
}

AVCodecID PcmFor(AVSampleFormat native) {
    switch (av_get_packed_sample_fmt(native)) {
    case AV_SAMPLE_FMT_S32:
        return AV_CODEC_ID_PCM_S32LE;
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_DBL:
        return AV_CODEC_ID_PCM_F32LE;
    default:
        return AV_CODEC_ID_PCM_S16LE;
    }
}
} // namespace

struct MediaWriter::Impl {
    struct Job {
        enum Kind { Video, Audio, End } kind;
        FramePtr picture;     // the frame converted for the encoder
        std::int64_t pts = 0; // in the encoder's time base
        std::vector<std::vector<float>> planes;
    };

    OutputSettings settings;
    std::optional<OutputFile> file;
    AVFormatContext* oc = nullptr;
    CodecPtr venc, aenc;
    AVStream* vst = nullptr;
    AVStream* ast = nullptr;
    SwsPtr sws;
    std::optional<SpanConverter> spans; // where decoded pictures can stand in for the rest
    SwrPtr swr;
    FifoPtr fifo;
    AVPixelFormat pictureFormat = AV_PIX_FMT_NONE;
    FramePtr aframe, afloat;
    PacketPtr pkt = NewPacket();
    std::int64_t audioPts = 0;
    std::int64_t lastVideoPts = INT64_MIN;
    std::string depthWarning;
    int audioChunk = 1024;
    bool headerWritten = false;
    std::string codecName;

    std::mutex m;
    std::condition_variable cv;
    std::deque<Job> queue;
    std::size_t queuedFrames = 0;
    std::vector<std::vector<std::uint8_t>> pool; // rendered-frame buffers to hand out again
    std::vector<FramePtr> pictures;              // converted frames the encoder is done with
    std::string failure;
    bool abort = false;
    std::thread thread;

    void fail(const std::string& what, int code) {
        std::lock_guard lock(m);
        if (failure.empty()) {
            failure = "cannot write '" + settings.path.string() + "': " + what +
                      (code < 0 ? ": " + AvError(code) : std::string());
        }
    }
    bool failed() {
        std::lock_guard lock(m);
        return !failure.empty();
    }

    void drain(AVCodecContext* enc, AVStream* st) {
        for (;;) {
            int r = avcodec_receive_packet(enc, pkt.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
                return;
            }
            if (r < 0) {
                fail("encoding failed", r);
                return;
            }
            av_packet_rescale_ts(pkt.get(), enc->time_base, st->time_base);
            pkt->stream_index = st->index;
            if ((r = av_interleaved_write_frame(oc, pkt.get())) < 0) {
                fail("writing failed", r);
                return;
            }
        }
    }

    // A frame of the encoder's format to convert into: one the encoder has given back, or a
    // new one. Nil when memory runs out.
    FramePtr takePicture() {
        FramePtr f;
        {
            std::lock_guard lock(m);
            if (!pictures.empty()) {
                f = std::move(pictures.back());
                pictures.pop_back();
            }
        }
        if (!f) {
            f = NewFrame();
            if (!f) {
                return f;
            }
            f->format = pictureFormat;
            f->width = settings.width;
            f->height = settings.height;
            if (av_frame_get_buffer(f.get(), 0) < 0) {
                return FramePtr();
            }
        }
        // The encoder may still hold a reference to the buffers; then they are not reused.
        if (av_frame_make_writable(f.get()) < 0) {
            return FramePtr();
        }
        const AVFieldOrder fo = settings.picture.fieldOrder;
        f->interlaced_frame =
            fo == AV_FIELD_TT || fo == AV_FIELD_BB || fo == AV_FIELD_TB || fo == AV_FIELD_BT;
        f->top_field_first = fo == AV_FIELD_TT || fo == AV_FIELD_TB;
        f->sample_aspect_ratio = settings.picture.sampleAspect;
        return f;
    }

    // ARGB to BGRA is a byte shuffle: the rendered bytes go out unchanged.
    void Shuffle(const std::vector<std::uint8_t>& pixels, AVFrame& f) const {
        const int w = settings.width, h = settings.height;
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* s = pixels.data() + std::size_t(y) * w * 4;
            std::uint8_t* d = f.data[0] + std::ptrdiff_t(y) * f.linesize[0];
            for (int x = 0; x < w; ++x, s += 4, d += 4) {
                d[0] = s[3];
                d[1] = s[2];
                d[2] = s[1];
                d[3] = s[0];
            }
        }
    }

    bool ConvertWhole(const std::vector<std::uint8_t>& pixels, AVFrame& f) {
        FramePtr src = NewFrame();
        if (!src) {
            return false;
        }
        src->format = AV_PIX_FMT_ARGB;
        src->width = settings.width;
        src->height = settings.height;
        src->data[0] = const_cast<std::uint8_t*>(pixels.data());
        src->linesize[0] = settings.width * 4;
        // A frame without a buffer reference is copied whole by sws_scale_frame before it
        // is converted; a reference that owns nothing lends it the pixels instead. The
        // converter lets go of it before returning, and `src` at the end of this scope.
        src->buf[0] = av_buffer_create(
            src->data[0], pixels.size(), [](void*, std::uint8_t*) {}, nullptr,
            AV_BUFFER_FLAG_READONLY);
        return src->buf[0] && sws_scale_frame(sws.get(), &f, src.get()) >= 0;
    }

    // The decoded picture, with only the span the plug-in changed converted over it; false
    // when the decoded picture cannot stand in (another format, size or colour description)
    // or the plug-in changed the whole frame, and the whole frame is to be converted.
    bool KeepDecoded(const std::vector<std::uint8_t>& pixels, const SourcePicture& source,
                     AVFrame& f) {
        const AVFrame& dec = *source.decoded;
        const int rotation = settings.picture.rotation;
        const bool sideways = rotation == 90 || rotation == 270;
        if (!spans || dec.format != pictureFormat ||
            (sideways ? dec.height : dec.width) != settings.width ||
            (sideways ? dec.width : dec.height) != settings.height ||
            dec.colorspace != settings.picture.matrix || dec.color_range != settings.picture.range) {
            return false;
        }
        const int w = settings.width, h = settings.height;
        const ArgbRows rendered{pixels.data(), std::ptrdiff_t(w) * 4};
        const Span span = ChangedSpan(rendered, {source.argb, source.rowBytes}, w, h,
                                      pictureFormat);
        if (span == Span{0, 0, w, h}) {
            return false;
        }
        const bool kept =
            rotation != 0 ? TurnPicture(dec, rotation, f) : av_frame_copy(&f, &dec) >= 0;
        return kept && (span.empty() || spans->convert(rendered, span, f));
    }

    // Caller's thread: the rendered ARGB frame in the encoder's format.
    FramePtr convert(const std::vector<std::uint8_t>& pixels, const SourcePicture* source) {
        FramePtr f = takePicture();
        if (!f) {
            return f;
        }
        if (settings.lossless) {
            Shuffle(pixels, *f);
        } else if (!(source && KeepDecoded(pixels, *source, *f)) && !ConvertWhole(pixels, *f)) {
            return FramePtr();
        }
        return f;
    }

    void encodeVideo(Job& job) {
        job.picture->pts = job.pts;
        int r = avcodec_send_frame(venc.get(), job.picture.get());
        if (r < 0) {
            fail("encoding failed", r);
            return;
        }
        drain(venc.get(), vst);
    }

    void encodeAudioChunk(int n) {
        afloat->nb_samples = n;
        if (av_frame_make_writable(afloat.get()) < 0 || av_frame_make_writable(aframe.get()) < 0) {
            fail("out of memory", 0);
            return;
        }
        if (av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(afloat->extended_data), n) !=
            n) {
            fail("the sound queue lost samples", 0);
            return;
        }
        aframe->nb_samples = n;
        const int got = swr_convert(swr.get(), aframe->extended_data, n,
                                    const_cast<const std::uint8_t**>(afloat->extended_data), n);
        if (got < 0) {
            fail("audio conversion failed", got);
            return;
        }
        aframe->nb_samples = got;
        aframe->pts = audioPts;
        audioPts += got;
        int r = avcodec_send_frame(aenc.get(), aframe.get());
        if (r < 0) {
            fail("audio encoding failed", r);
            return;
        }
        drain(aenc.get(), ast);
    }

    void encodeAudio(Job& job) {
        if (!aenc || job.planes.empty()) {
            return;
        }
        std::vector<void*> data;
        for (auto& p : job.planes) {
            data.push_back(p.data());
        }
        const int n = int(job.planes[0].size());
        if (int r = av_audio_fifo_write(fifo.get(), data.data(), n); r != n) {
            fail("out of memory for the sound queue", r < 0 ? r : 0);
            return;
        }
        while (!failed() && av_audio_fifo_size(fifo.get()) >= audioChunk) {
            encodeAudioChunk(audioChunk);
        }
    }

    void flush() {
        if (aenc) {
            if (int rest = av_audio_fifo_size(fifo.get()); rest > 0) {
                encodeAudioChunk(rest);
            }
            avcodec_send_frame(aenc.get(), nullptr);
            drain(aenc.get(), ast);
        }
        avcodec_send_frame(venc.get(), nullptr);
        drain(venc.get(), vst);
        if (!failed()) {
            if (int r = av_write_trailer(oc); r < 0) {
                fail("finishing the file failed", r);
            }
        }
    }

    void run() {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(m);
                cv.wait(lock, [&] { return abort || !queue.empty(); });
                if (abort) {
                    return;
                }
                job = std::move(queue.front());
                queue.pop_front();
                if (job.kind == Job::Video) {
                    --queuedFrames;
                }
                cv.notify_all();
            }
            const bool broken = failed();
            if (job.kind == Job::End) {
                if (!broken) {
                    flush();
                }
                return;
            }
            if (!broken) {
                job.kind == Job::Video ? encodeVideo(job) : encodeAudio(job);
            }
            if (job.kind == Job::Video) {
                std::lock_guard lock(m);
                pictures.push_back(std::move(job.picture));
            }
        }
    }

    void push(Job&& job) {
        std::unique_lock lock(m);
        cv.wait(lock, [&] {
            return !failure.empty() || job.kind != Job::Video || queuedFrames < kQueueFrames;
        });
        if (!failure.empty()) {
            throw HostError(ErrorKind::Output, failure);
        }
        if (job.kind == Job::Video) {
            ++queuedFrames;
        }
        queue.push_back(std::move(job));
        cv.notify_all();
    }

    ~Impl() { closeFile(); }

    void closeFile() {
        if (oc) {
            if (oc->pb) {
                avio_closep(&oc->pb);
            }
            avformat_free_context(oc);
            oc = nullptr;
        }
    }

    bool TinyFrame() const { return settings.width < 4 || settings.height < 4; }

    // Whether frames of the output's size can be subsampled as the format's chroma is.
    bool Fits(AVPixelFormat p) const {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(p);
        return d && settings.width % (1 << d->log2_chroma_w) == 0 &&
               settings.height % (1 << d->log2_chroma_h) == 0;
    }

    // --pix-fmt, if the encoder takes it (`offered`, empty: any) and the frames fit it.
    AVPixelFormat AskedFormat(const std::vector<AVPixelFormat>& offered) const {
        const AVPixelFormat want = av_get_pix_fmt(settings.pixelFormat.c_str());
        if (want == AV_PIX_FMT_NONE) {
            OutputFail("--pix-fmt: there is no pixel format named '" + settings.pixelFormat + "'");
        }
        if (!offered.empty() && std::find(offered.begin(), offered.end(), want) == offered.end()) {
            OutputFail("--pix-fmt: " + codecName + " does not encode " + settings.pixelFormat);
        }
        if (!Fits(want)) {
            OutputFail("--pix-fmt: " + settings.pixelFormat + " cannot hold frames of " +
                       std::to_string(settings.width) + "x" + std::to_string(settings.height) +
                       " (odd size)");
        }
        return want;
    }

    // An offered YUV format of the input's bit depth: 4:2:0 as the 8-bit default has, else
    // the least subsampled; NONE when the encoder has none.
    AVPixelFormat DeepFormat(const std::vector<AVPixelFormat>& offered) const {
        AVPixelFormat best = AV_PIX_FMT_NONE;
        int bestLoss = INT_MAX;
        for (AVPixelFormat p : offered) {
            const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(p);
            if (!Fits(p) || d->comp[0].depth != settings.picture.bitDepth ||
                (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) || d->nb_components < 3) {
                continue;
            }
            const int loss = (d->log2_chroma_w == 1 && d->log2_chroma_h == 1)
                                 ? 0
                                 : 1 + d->log2_chroma_w + d->log2_chroma_h;
            if (loss < bestLoss) {
                best = p;
                bestLoss = loss;
            }
        }
        return best;
    }

    // The encoder's pixel format: the one asked for; for lossless output BGRA; else the
    // input's depth where the encoder has it, in 4:2:0 when the size allows it, else the
    // format that loses least.
    AVPixelFormat PixelFormat(const AVCodec* codec) {
        std::vector<AVPixelFormat> offered;
        for (const AVPixelFormat* p = codec->pix_fmts; p && *p != AV_PIX_FMT_NONE; ++p) {
            offered.push_back(*p);
        }
        if (!settings.pixelFormat.empty()) {
            return AskedFormat(offered);
        }
        if (settings.lossless) {
            return AV_PIX_FMT_BGRA;
        }
        if (offered.empty()) {
            return AV_PIX_FMT_YUV420P;
        }
        if (settings.picture.bitDepth > 8) {
            if (const AVPixelFormat deep = DeepFormat(offered); deep != AV_PIX_FMT_NONE) {
                return deep;
            }
            depthWarning = "the input has " + std::to_string(settings.picture.bitDepth) +
                           "-bit samples but " + codecName +
                           " writes 8 bits here: the output is 8-bit";
        }
        const bool even = settings.width % 2 == 0 && settings.height % 2 == 0;
        if (even &&
            std::find(offered.begin(), offered.end(), AV_PIX_FMT_YUV420P) != offered.end()) {
            return AV_PIX_FMT_YUV420P;
        }
        // Odd sizes cannot be subsampled by two: take the format that loses least.
        std::vector<AVPixelFormat> usable;
        std::copy_if(offered.begin(), offered.end(), std::back_inserter(usable),
                     [&](AVPixelFormat p) { return Fits(p); });
        usable.push_back(AV_PIX_FMT_NONE);
        return avcodec_find_best_pix_fmt_of_list(usable.data(), AV_PIX_FMT_ARGB, 0, nullptr);
    }

    // The input's container tags and chapters onto the output, before its header.
    void writeTags() {
        for (const auto& [key, value] : settings.tags.tags) {
            if (av_dict_set(&oc->metadata, key.c_str(), value.c_str(), 0) < 0) {
                OutOfMemory("the output's tags");
            }
        }
        std::int64_t id = 0;
        for (const Chapter& c : settings.tags.chapters) {
            auto* out = static_cast<AVChapter*>(Need(av_mallocz(sizeof(AVChapter)), "a chapter"));
            out->id = ++id;
            out->time_base = AVRational{1, 1000};
            out->start = std::llround(c.start * 1000);
            out->end = std::llround(c.end * 1000);
            for (const auto& [key, value] : c.tags) {
                av_dict_set(&out->metadata, key.c_str(), value.c_str(), 0);
            }
            if (av_dynarray_add_nofree(&oc->chapters, reinterpret_cast<int*>(&oc->nb_chapters),
                                       out) < 0) {
                av_dict_free(&out->metadata);
                av_free(out);
                OutOfMemory("a chapter");
            }
        }
    }

    // An encoder option named by the user (--crf, --preset); refused in one line when the
    // encoder has no such option or does not take the value.
    void SetOption(AVCodecContext* c, const char* name, const std::string& value,
                   const char* flag) {
        if (value.empty()) {
            return;
        }
        int r = c->priv_data ? av_opt_set(c->priv_data, name, value.c_str(), 0)
                             : AVERROR_OPTION_NOT_FOUND;
        if (r == AVERROR_OPTION_NOT_FOUND) {
            r = av_opt_set(c, name, value.c_str(), 0);
        }
        if (r == AVERROR_OPTION_NOT_FOUND) {
            OutputFail(std::string(flag) + ": " + codecName + " has no '" + name + "' setting");
        }
        if (r < 0) {
            OutputFail(std::string(flag) + " " + value + " is not a value " + codecName +
                       " takes: " + AvError(r));
        }
    }

    // The encoder the settings and the container ask for.
    const AVCodec* VideoEncoder(const AVOutputFormat* of) const {
        const AVCodec* codec = nullptr;
        if (settings.lossless) {
            // FFV1 loses frames two pixels wide or high or less; FFVHUFF, lossless too but
            // larger, keeps them.
            codec = avcodec_find_encoder(TinyFrame() ? AV_CODEC_ID_FFVHUFF : AV_CODEC_ID_FFV1);
        } else if (!settings.videoCodec.empty()) {
            codec = avcodec_find_encoder_by_name(settings.videoCodec.c_str());
            if (!codec || codec->type != AVMEDIA_TYPE_VIDEO) {
                OutputFail("no video encoder named '" + settings.videoCodec + "'");
            }
        } else if (IsH264Container(settings.path)) {
            codec = avcodec_find_encoder_by_name("libx264");
            if (!codec) {
                codec = avcodec_find_encoder(AV_CODEC_ID_H264);
            }
        } else if (of->video_codec != AV_CODEC_ID_NONE) {
            codec = avcodec_find_encoder(of->video_codec);
        }
        if (!codec) {
            OutputFail("cannot encode video for '" + settings.path.string() +
                       "': no encoder for its container");
        }
        // (Matroska takes FFVHUFF through its compatibility tags, which the query omits.)
        if (!settings.lossless && avformat_query_codec(of, codec->id, FF_COMPLIANCE_NORMAL) == 0) {
            OutputFail("cannot encode video for '" + settings.path.string() +
                       "': the container does not take " + codec->name);
        }
        return codec;
    }

    // The output is described as the input was; RGB output has no matrix and no range.
    void DescribePicture(AVCodecContext* c, bool rgb) const {
        const VideoDescription& p = settings.picture;
        c->colorspace = rgb ? AVCOL_SPC_RGB : p.matrix;
        c->color_range = rgb ? AVCOL_RANGE_JPEG : p.range;
        c->color_primaries = p.primaries;
        c->color_trc = p.transfer;
        c->sample_aspect_ratio = p.sampleAspect;
        c->field_order = p.fieldOrder;
        if (p.fieldOrder != AV_FIELD_UNKNOWN && p.fieldOrder != AV_FIELD_PROGRESSIVE) {
            c->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
        }
    }

    // The converter from the plug-in's ARGB to the encoder's format (not for lossless
    // output, which is converted exactly elsewhere). Slices of the frame are converted on as
    // many threads as there are cores; each output row is computed as the single-threaded
    // conversion computes it.
    void OpenConverter(AVPixelFormat pf, bool rgb) {
        SwsContext* ctx = sws_alloc_context();
        sws.reset(ctx);
        if (!ctx || av_opt_set_int(ctx, "srcw", settings.width, 0) < 0 ||
            av_opt_set_int(ctx, "srch", settings.height, 0) < 0 ||
            av_opt_set_int(ctx, "src_format", AV_PIX_FMT_ARGB, 0) < 0 ||
            av_opt_set_int(ctx, "dstw", settings.width, 0) < 0 ||
            av_opt_set_int(ctx, "dsth", settings.height, 0) < 0 ||
            av_opt_set_int(ctx, "dst_format", pf, 0) < 0 ||
            av_opt_set_int(ctx, "sws_flags", SWS_BICUBIC, 0) < 0 ||
            av_opt_set_int(ctx, "threads", 0, 0) < 0 || sws_init_context(ctx, nullptr, nullptr) < 0) {
            sws.reset();
        }
        if (sws && !rgb) {
            // The input's matrix and range, as the frames were converted with on the way in.
            const bool full = settings.picture.range == AVCOL_RANGE_JPEG;
            const int matrix = SwsMatrixOf(settings.picture.matrix);
            SetConversion(ctx, SWS_CS_DEFAULT, true, matrix, full);
            if (TakesSpans(pf)) {
                spans.emplace(pf, matrix, full);
            }
        }
        if (!sws) {
            OutputFail("cannot convert frames for " + codecName);
        }
    }

    void openVideo(const AVOutputFormat* of) {
        const AVCodec* codec = VideoEncoder(of);
        codecName = codec->name;
        venc.reset(Need(avcodec_alloc_context3(codec), "the video encoder"));
        AVCodecContext* c = venc.get();
        c->width = settings.width;
        c->height = settings.height;
        // Codecs that take any time base get the input's, so that every frame keeps its own
        // timestamp; the others get the nominal rate's.
        const AVCodecID id = codec->id;
        const bool anyTimeBase = id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC ||
                                 id == AV_CODEC_ID_FFV1 || id == AV_CODEC_ID_VP8 ||
                                 id == AV_CODEC_ID_VP9 || id == AV_CODEC_ID_AV1;
        c->time_base = anyTimeBase ? AVRational{settings.timeNum, settings.timeDen}
                                   : AVRational{settings.rateDen, settings.rateNum};
        c->framerate = AVRational{settings.rateNum, settings.rateDen};
        c->thread_count = 0;
        const AVPixelFormat pf = PixelFormat(codec);
        const AVPixFmtDescriptor* pd = av_pix_fmt_desc_get(pf);
        const bool rgb = pd && (pd->flags & AV_PIX_FMT_FLAG_RGB);
        if (settings.lossless && !TinyFrame()) {
            av_opt_set_int(c->priv_data, "level", 3, 0);
            av_opt_set_int(c->priv_data, "slicecrc", 1, 0);
        }
        SetOption(c, "crf", settings.crf, "--crf");
        SetOption(c, "preset", settings.preset, "--preset");
        DescribePicture(c, rgb);
        c->pix_fmt = pf;
        if (of->flags & AVFMT_GLOBALHEADER) {
            c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        int r;
        {
            // Some encoders (libx264) print their complaints themselves; the one line
            // below says what failed.
            QuietStderr quiet;
            r = avcodec_open2(c, codec, nullptr);
        }
        if (r < 0) {
            OutputFail("cannot encode video with " + codecName + ": " + AvError(r));
        }
        vst = Need(avformat_new_stream(oc, nullptr), "the video stream");
        if (avcodec_parameters_from_context(vst->codecpar, c) < 0) {
            OutOfMemory("the video stream's parameters");
        }
        vst->time_base = c->time_base;
        vst->avg_frame_rate = c->framerate;
        vst->sample_aspect_ratio = settings.picture.sampleAspect;
        pictureFormat = pf;
        if (!settings.lossless) {
            OpenConverter(pf, rgb);
        }
    }

    // PCM at the input's depth for lossless output, AAC in the H.264 containers, else the
    // container's default.
    const AVCodec* AudioEncoder(const AVOutputFormat* of) const {
        const AVCodec* codec = nullptr;
        if (settings.lossless) {
            codec = avcodec_find_encoder(PcmFor(settings.pcmHint));
        } else if (IsH264Container(settings.path)) {
            codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        } else if (of->audio_codec != AV_CODEC_ID_NONE) {
            codec = avcodec_find_encoder(of->audio_codec);
        }
        if (!codec) {
            OutputFail("cannot encode audio for '" + settings.path.string() + "'");
        }
        return codec;
    }

    // One encoder chunk of sound in `format`, with the encoder's layout and rate.
    FramePtr SoundFrame(AVSampleFormat format) const {
        FramePtr f(Need(av_frame_alloc(), "a sound frame"));
        f->format = format;
        f->nb_samples = audioChunk;
        av_channel_layout_copy(&f->ch_layout, &aenc->ch_layout);
        f->sample_rate = aenc->sample_rate;
        if (av_frame_get_buffer(f.get(), 0) < 0) {
            OutOfMemory("a sound frame");
        }
        return f;
    }

    // The float planes pushed, converted to the encoder's format and cut into its chunks.
    void OpenSoundPath(const char* codec) {
        AVCodecContext* c = aenc.get();
        SwrContext* s = nullptr;
        if (swr_alloc_set_opts2(&s, &c->ch_layout, c->sample_fmt, c->sample_rate, &c->ch_layout,
                                AV_SAMPLE_FMT_FLTP, c->sample_rate, 0, nullptr) < 0 ||
            swr_init(s) < 0) {
            swr_free(&s);
            OutputFail("cannot convert audio for " + std::string(codec));
        }
        swr.reset(s);
        fifo.reset(Need(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, settings.channels, audioChunk * 4),
                        "the sound queue"));
        afloat = SoundFrame(AV_SAMPLE_FMT_FLTP);
        aframe = SoundFrame(c->sample_fmt);
    }

    void openAudio(const AVOutputFormat* of) {
        const AVCodec* codec = AudioEncoder(of);
        aenc.reset(Need(avcodec_alloc_context3(codec), "the audio encoder"));
        AVCodecContext* c = aenc.get();
        int rate = settings.sampleRate;
        if (codec->supported_samplerates) {
            bool ok = false;
            for (const int* r = codec->supported_samplerates; *r; ++r) {
                ok |= *r == rate;
            }
            if (!ok) {
                rate = 48000;
            }
        }
        c->sample_rate = rate;
        c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        av_channel_layout_default(&c->ch_layout, settings.channels);
        c->time_base = AVRational{1, rate};
        if (of->flags & AVFMT_GLOBALHEADER) {
            c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        if (int r = avcodec_open2(c, codec, nullptr); r < 0) {
            OutputFail("cannot encode audio with " + std::string(codec->name) + ": " + AvError(r));
        }
        audioChunk = c->frame_size > 0 ? c->frame_size : 1024;
        ast = Need(avformat_new_stream(oc, nullptr), "the audio stream");
        if (avcodec_parameters_from_context(ast->codecpar, c) < 0) {
            OutOfMemory("the audio stream's parameters");
        }
        ast->time_base = c->time_base;
        OpenSoundPath(codec->name);
    }
};

MediaWriter::MediaWriter(const OutputSettings& settings) : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    d.settings = settings;
    Need(d.pkt.get(), "a packet");
    CheckOutputFree(settings.path, settings.overwrite);
    const std::string name = settings.path.string();
    if (avformat_alloc_output_context2(&d.oc, nullptr, nullptr, name.c_str()) < 0 || !d.oc) {
        OutputFail("cannot tell the output format from the name '" + name + "'");
    }
    const AVOutputFormat* of = d.oc->oformat;
    if (settings.lossless && std::string(of->name).find("matroska") == std::string::npos) {
        OutputFail("--lossless writes FFV1 in Matroska: name the output '.mkv', not '" + name +
                   "'");
    }
    if (of->flags & AVFMT_NOFILE) {
        OutputFail("output '" + name + "' is not a file format");
    }
    try {
        d.openVideo(of);
        if (settings.audio) {
            d.openAudio(of);
        }
        d.file.emplace(settings.path, settings.overwrite);
        if (int r = avio_open(&d.oc->pb, d.file->url().c_str(), AVIO_FLAG_WRITE); r < 0) {
            OutputFail("cannot write '" + name + "': " + AvError(r));
        }
        d.writeTags();
        if (int r = avformat_write_header(d.oc, nullptr); r < 0) {
            OutputFail("cannot write '" + name + "': " + AvError(r));
        }
        d.headerWritten = true;
    } catch (...) {
        d.closeFile();
        d.file.reset();
        throw;
    }
    d.thread = std::thread([&d] { d.run(); });
}

MediaWriter::~MediaWriter() {
    Impl& d = *impl_;
    if (d.thread.joinable()) {
        {
            std::lock_guard lock(d.m);
            d.abort = true;
        }
        d.cv.notify_all();
        d.thread.join();
    }
    d.closeFile();
    d.file.reset(); // removes the temporary unless it was committed
}

int MediaWriter::sampleRate() const {
    return impl_->aenc ? impl_->aenc->sample_rate : impl_->settings.sampleRate;
}
const std::string& MediaWriter::videoCodecName() const {
    return impl_->codecName;
}
const std::string& MediaWriter::depthWarning() const {
    return impl_->depthWarning;
}

std::vector<std::uint8_t> MediaWriter::takeBuffer() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.m);
        if (!d.pool.empty()) {
            std::vector<std::uint8_t> b = std::move(d.pool.back());
            d.pool.pop_back();
            return b;
        }
    }
    return std::vector<std::uint8_t>(std::size_t(d.settings.width) * d.settings.height * 4);
}

void MediaWriter::pushVideo(std::vector<std::uint8_t>&& argb, std::int64_t timestamp,
                            const SourcePicture* source) {
    Impl& d = *impl_;
    FramePtr picture = d.convert(argb, source);
    {
        std::lock_guard lock(d.m);
        d.pool.push_back(std::move(argb));
    }
    if (!picture) {
        d.fail("out of memory", 0); // reported by the push below, as every failure is
    }
    std::int64_t pts = av_rescale_q(timestamp, AVRational{d.settings.timeNum, d.settings.timeDen},
                                    d.venc->time_base);
    if (d.lastVideoPts != INT64_MIN && pts <= d.lastVideoPts) {
        pts = d.lastVideoPts + 1;
    }
    d.lastVideoPts = pts;
    d.push(Impl::Job{Impl::Job::Video, std::move(picture), pts, {}});
}

void MediaWriter::pushAudio(std::vector<std::vector<float>>&& planes) {
    if (!impl_->aenc) {
        return;
    }
    Impl::Job job{Impl::Job::Audio, {}, 0, std::move(planes)};
    impl_->push(std::move(job));
}

void MediaWriter::finish() {
    Impl& d = *impl_;
    d.push(Impl::Job{Impl::Job::End, {}, 0, {}});
    d.thread.join();
    if (!d.failure.empty()) {
        throw HostError(ErrorKind::Output, d.failure);
    }
    if (int r = avio_closep(&d.oc->pb); r < 0) {
        OutputFail("cannot write '" + d.settings.path.string() + "': " + AvError(r));
    }
    d.file->commit();
}

namespace {
Tags TagsOf(const AVDictionary* dict) {
    Tags tags;
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX))) {
        tags.emplace_back(e->key, e->value);
    }
    return tags;
}
} // namespace

ContainerTags ReadContainerTags(const std::filesystem::path& input, double clipStart) {
    const InputPtr in = OpenInput(input);
    ContainerTags out;
    out.tags = TagsOf(in->metadata);
    for (const AVChapter* c : std::span(in->chapters, in->nb_chapters)) {
        const double start = double(c->start) * av_q2d(c->time_base) - clipStart;
        const double end = double(c->end) * av_q2d(c->time_base) - clipStart;
        if (end > 0) {
            out.chapters.push_back(Chapter{std::max(start, 0.0), end, TagsOf(c->metadata)});
        }
    }
    return out;
}

} // namespace fxhost::media
