// audiosource.cpp - the tone and the decoded sound of an input file.
#include "audiosource.h"

#include "hosterror.h"
#include "mediainput.h"

#include <algorithm>
#include <cmath>

namespace fxhost::media {

float ToneSample(std::int64_t n, int sampleRate) {
    const double t = double(n % sampleRate) / sampleRate; // whole periods per second
    return float(0.25 * std::sin(2.0 * M_PI * 440.0 * t));
}

ToneSource::ToneSource(int sampleRate, int channels) : rate_(sampleRate) {
    av_channel_layout_default(&layout_, channels);
}
ToneSource::~ToneSource() {
    av_channel_layout_uninit(&layout_);
}

void ToneSource::read(std::int64_t start, int count, float* const* planes) {
    for (int i = 0; i < count; ++i) {
        const float v = start + i >= 0 ? ToneSample(start + i, rate_) : 0.0f;
        for (int c = 0; c < layout_.nb_channels; ++c) {
            planes[c][i] = v;
        }
    }
}

std::unique_ptr<FFmpegAudioSource> FFmpegAudioSource::Open(const std::filesystem::path& path,
                                                           double clipStart, int outputRate) {
    const std::string name = path.string();
    std::unique_ptr<FFmpegAudioSource> s(new FFmpegAudioSource);
    s->fmt_ = OpenInput(path);
    AVFormatContext* raw = s->fmt_.get();
    const int video = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    s->stream_ =
        av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, video >= 0 ? video : -1, nullptr, 0);
    if (s->stream_ < 0) {
        return nullptr;
    }
    AVStream* st = raw->streams[s->stream_];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) {
        throw HostError(ErrorKind::Input, "cannot decode the audio of '" + name +
                                              "': no decoder for codec '" +
                                              avcodec_get_name(st->codecpar->codec_id) + "'");
    }
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        raw->streams[i]->discard = int(i) == s->stream_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    s->dec_.reset(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(s->dec_.get(), st->codecpar);
    if (int r = avcodec_open2(s->dec_.get(), codec, nullptr); r < 0) {
        throw HostError(ErrorKind::Input,
                        "cannot decode the audio of '" + name + "': " + AvError(r));
    }
    AVCodecContext* dec = s->dec_.get();
    if (dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || dec->ch_layout.nb_channels == 0) {
        const int n = std::max(dec->ch_layout.nb_channels, 1);
        av_channel_layout_uninit(&dec->ch_layout);
        av_channel_layout_default(&dec->ch_layout, n);
    }
    av_channel_layout_copy(&s->layout_, &dec->ch_layout);
    s->native_ = dec->sample_fmt;
    s->outRate_ = outputRate > 0 ? outputRate : dec->sample_rate;
    s->clipStart_ = clipStart;
    s->buf_.resize(std::size_t(s->layout_.nb_channels));
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &s->layout_, AV_SAMPLE_FMT_FLTP, s->outRate_, &dec->ch_layout,
                            dec->sample_fmt, dec->sample_rate, 0, nullptr) < 0 ||
        swr_init(swr) < 0) {
        swr_free(&swr);
        throw HostError(ErrorKind::Input, "cannot convert the audio of '" + name + "'");
    }
    s->swr_.reset(swr);
    if (clipStart > 1.0) {
        av_seek_frame(raw, -1, std::int64_t((clipStart - 1.0) * AV_TIME_BASE),
                      AVSEEK_FLAG_BACKWARD);
    }
    return s;
}

FFmpegAudioSource::~FFmpegAudioSource() {
    av_channel_layout_uninit(&layout_);
}

void FFmpegAudioSource::append(const AVFrame* out, std::int64_t anchor) {
    const std::int64_t end = bufStart_ + std::int64_t(buf_[0].size());
    std::int64_t pos = end;
    // Re-anchor by timestamp only at the start and across real jumps.
    if (anchor != AV_NOPTS_VALUE && (!anchored_ || std::llabs(anchor - end) > outRate_ / 50)) {
        pos = anchor;
    }
    if (!anchored_) {
        bufStart_ = pos;
        anchored_ = true;
    } else if (pos > end) {
        for (auto& ch : buf_) {
            ch.resize(ch.size() + std::size_t(pos - end), 0.0f);
        }
    }
    std::int64_t skip = std::max<std::int64_t>(0, (bufStart_ + std::int64_t(buf_[0].size())) - pos);
    skip = std::min<std::int64_t>(skip, out->nb_samples);
    for (int c = 0; c < layout_.nb_channels; ++c) {
        const float* src = reinterpret_cast<const float*>(out->extended_data[c]);
        buf_[c].insert(buf_[c].end(), src + skip, src + out->nb_samples);
    }
}

bool FFmpegAudioSource::decodeMore() {
    FramePtr frame = NewFrame();
    for (;;) {
        int r = avcodec_receive_frame(dec_.get(), frame.get());
        if (r == 0) {
            break;
        }
        if (r == AVERROR_EOF || (r != AVERROR(EAGAIN)) || drained_) {
            return false;
        }
        r = av_read_frame(fmt_.get(), pkt_.get());
        if (r < 0) {
            drained_ = true;
            avcodec_send_packet(dec_.get(), nullptr);
            continue;
        }
        if (pkt_->stream_index == stream_) {
            avcodec_send_packet(dec_.get(), pkt_.get()); // damaged packets are skipped
        }
        av_packet_unref(pkt_.get());
    }
    FramePtr out = NewFrame();
    out->format = AV_SAMPLE_FMT_FLTP;
    out->sample_rate = outRate_;
    av_channel_layout_copy(&out->ch_layout, &layout_);
    out->nb_samples = int(swr_get_out_samples(swr_.get(), frame->nb_samples));
    if (out->nb_samples <= 0 || av_frame_get_buffer(out.get(), 0) < 0) {
        return true;
    }
    const int n =
        swr_convert(swr_.get(), out->extended_data, out->nb_samples,
                    const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
    if (n <= 0) {
        return true;
    }
    out->nb_samples = n;
    std::int64_t anchor = AV_NOPTS_VALUE;
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
        const AVRational tb = fmt_->streams[stream_]->time_base;
        anchor = std::llround((double(frame->best_effort_timestamp) * av_q2d(tb) - clipStart_) *
                              outRate_);
    }
    append(out.get(), anchor);
    return true;
}

void FFmpegAudioSource::read(std::int64_t start, int count, float* const* planes) {
    const std::int64_t want = start + count;
    while (!ended_ && (!anchored_ || bufStart_ + std::int64_t(buf_[0].size()) < want)) {
        if (!decodeMore()) {
            ended_ = true;
        }
    }
    const std::int64_t have = bufStart_ + std::int64_t(buf_.empty() ? 0 : buf_[0].size());
    for (int c = 0; c < layout_.nb_channels; ++c) {
        for (int i = 0; i < count; ++i) {
            const std::int64_t p = start + i;
            planes[c][i] = (anchored_ && p >= bufStart_ && p < have)
                               ? buf_[c][std::size_t(p - bufStart_)]
                               : 0.0f;
        }
    }
    // Reading moves forward only: what lies before the end of this range is done with.
    if (anchored_ && want > bufStart_) {
        const std::size_t drop = std::size_t(std::min(want, have) - bufStart_);
        for (auto& ch : buf_) {
            ch.erase(ch.begin(), ch.begin() + std::ptrdiff_t(drop));
        }
        bufStart_ += std::int64_t(drop);
    }
}

std::vector<std::vector<float>> FFmpegAudioSource::readRest(int most) {
    while (!ended_ && std::int64_t(buf_.empty() ? 0 : buf_[0].size()) < most) {
        if (!decodeMore()) {
            ended_ = true;
        }
    }
    const std::int64_t have = anchored_ && !buf_.empty() ? std::int64_t(buf_[0].size()) : 0;
    const int n = int(std::min<std::int64_t>(most, have));
    if (n <= 0) {
        return {};
    }
    std::vector<std::vector<float>> planes(std::size_t(layout_.nb_channels));
    for (int c = 0; c < layout_.nb_channels; ++c) {
        planes[c].assign(buf_[c].begin(), buf_[c].begin() + n);
        buf_[c].erase(buf_[c].begin(), buf_[c].begin() + n);
    }
    bufStart_ += n;
    return planes;
}

} // namespace fxhost::media
