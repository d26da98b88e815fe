// trackoutput.cpp - the analysis commands' output: the clip's part, review spans, writing.
#include "trackoutput.h"

#include "TrackFile.h"
#include "framereader.h"
#include "hosterror.h"
#include "outputfile.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace fxhost::analysis {

namespace tt = tessera::tracks;

void CheckOutput(const TrackOutput& out, const std::filesystem::path& input) {
    media::CheckOutputFree(out.file, out.overwrite);
    media::CheckNotInput(out.file, input, false);
}

tt::Track ClipTrack(const FrameReader& reader, const std::filesystem::path& input) {
    const media::FFmpegFrameSource& source = reader.source();
    tt::Track track;
    track.clip = {input.filename().string(), reader.frameCount(), reader.clipWidth(),
                  reader.clipHeight(),       source.rateNum(),    source.rateDen()};
    track.frames.resize(std::size_t(reader.frameCount()));
    for (std::size_t i = 0; i < track.frames.size(); ++i) {
        track.frames[i].index = std::int64_t(i);
        track.frames[i].time = reader.time(std::int64_t(i));
    }
    return track;
}

std::string ReviewSpans(const tt::Track& track) {
    constexpr int kShown = 5;
    const auto& f = track.frames;
    const auto marked = [&](std::size_t i) {
        return i < f.size() && std::any_of(f[i].regions.begin(), f[i].regions.end(),
                                           [](const tt::TrackRegion& r) { return r.review; });
    };
    std::string out;
    int shown = 0;
    for (std::size_t i = 0; i < f.size();) {
        if (!marked(i)) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (marked(j + 1)) {
            ++j;
        }
        if (shown++ == kShown) {
            return out + ", ...";
        }
        out +=
            (out.empty() ? "" : ", ") + std::to_string(i) + (j > i ? "-" + std::to_string(j) : "");
        i = j + 1;
    }
    return out;
}

void WriteTrackOutput(const tt::Track& track, const TrackOutput& out,
                      const std::filesystem::path& input) {
    const std::string text =
        out.mlt ? tt::FormatMltKeyframes(track, std::filesystem::absolute(input).string(),
                                         out.blockWidth, out.blockHeight, out.opacity)
                : tt::FormatTrack(track);
    media::OutputFile file(out.file, out.overwrite);
    std::FILE* f = std::fopen(file.temporary().c_str(), "wb");
    const bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size() &&
                    std::fflush(f) == 0 && fsync(fileno(f)) == 0;
    if ((f && std::fclose(f) != 0) || !ok) {
        throw HostError(ErrorKind::Output, "cannot write " + out.file.string());
    }
    file.commit();
}

} // namespace fxhost::analysis
