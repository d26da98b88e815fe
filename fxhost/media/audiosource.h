// audiosource.h - the sound of the clip being rendered.
//
// Owns: AudioSource, sound read by sample position on the clip's own timeline (sample 0
// is the time of the clip's first frame), as 32-bit float planar samples; ToneSource, the
// built-in clip's tone; FFmpegAudioSource, the best audio stream of an input file decoded
// with libavcodec and converted with libswresample. Promises: read() is called with
// non-decreasing, contiguous ranges and fills every requested sample: where the input has
// no sound (before it starts, gaps, after it ends) the samples are silence. Samples are
// placed by continuity and only re-anchored by timestamps when those jump by more than
// 20 ms, so that containers with coarse timestamps lose no sample and repeat none.
#pragma once

#include "ffutil.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace fxhost::media {

class AudioSource {
  public:
    virtual ~AudioSource() = default;
    virtual int sampleRate() const = 0;
    virtual const AVChannelLayout& layout() const = 0;
    int channels() const { return layout().nb_channels; }
    // The input's own sample format, for choosing a PCM format that keeps every bit.
    virtual AVSampleFormat nativeFormat() const = 0;
    // planes[c][0 .. count) := samples [start, start + count) of channel c.
    virtual void read(std::int64_t start, int count, float* const* planes) = 0;
    // The sound the input still has after the last range read (what runs on past the last
    // picture), at most `most` samples a channel; empty planes once there is no more. Only
    // the input's own samples: no silence is made up. The tone has none.
    virtual std::vector<std::vector<float>> readRest(int most) {
        (void)most;
        return {};
    }
};

// The built-in clip's sound: a 440 Hz sine at a quarter of full scale on every channel.
float ToneSample(std::int64_t n, int sampleRate);

class ToneSource final : public AudioSource {
  public:
    explicit ToneSource(int sampleRate = 48000, int channels = 2);
    ~ToneSource() override;
    int sampleRate() const override { return rate_; }
    const AVChannelLayout& layout() const override { return layout_; }
    AVSampleFormat nativeFormat() const override { return AV_SAMPLE_FMT_FLTP; }
    void read(std::int64_t start, int count, float* const* planes) override;

  private:
    int rate_;
    AVChannelLayout layout_{};
};

class FFmpegAudioSource final : public AudioSource {
  public:
    // The input's best audio stream (the one that belongs to its video, if any), resampled
    // to `outputRate` (0: keep the input's rate). `clipStart` is the time in seconds on
    // the file's timeline of sample 0. Null when the input has no audio stream; throws
    // HostError (Input) when it has one that cannot be decoded.
    static std::unique_ptr<FFmpegAudioSource> Open(const std::filesystem::path& path,
                                                   double clipStart, int outputRate = 0);
    ~FFmpegAudioSource() override;
    int sampleRate() const override { return outRate_; }
    const AVChannelLayout& layout() const override { return layout_; }
    AVSampleFormat nativeFormat() const override { return native_; }
    void read(std::int64_t start, int count, float* const* planes) override;
    std::vector<std::vector<float>> readRest(int most) override;
    // The input stream's own rate.
    int inputRate() const { return dec_->sample_rate; }

  private:
    FFmpegAudioSource() = default;
    bool decodeMore(); // appends one decoded frame to the buffer; false at the end
    void append(const AVFrame* converted, std::int64_t anchor);

    InputPtr fmt_;
    CodecPtr dec_;
    SwrPtr swr_;
    PacketPtr pkt_ = NewPacket();
    int stream_ = -1;
    int outRate_ = 0;
    AVChannelLayout layout_{};
    AVSampleFormat native_ = AV_SAMPLE_FMT_NONE;
    double clipStart_ = 0;
    bool drained_ = false, ended_ = false, anchored_ = false;
    std::vector<std::vector<float>> buf_;
    std::int64_t bufStart_ = 0; // clip sample position of buf_[c][0]
};

} // namespace fxhost::media
