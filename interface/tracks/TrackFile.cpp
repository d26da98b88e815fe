// TrackFile.cpp - the track file's reader, writer and MLT keyframes (see TrackFile.h).
//
// The reader checks every value it takes before the caller sees any of it, so that a renderer
// never works from half a track. A refusal names the file and the place in it ("frames[3]
// .regions[0].rect") so that a person correcting the file by hand finds the fault.
#include "TrackFile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace tessera::tracks {

namespace {

using nlohmann::json;
using Ordered = nlohmann::ordered_json;

constexpr const char* kFormat = "tessera-track";
constexpr int kVersion = 1;

// Reads one object's keys, naming the file and the path to the object in every refusal.
class Reader {
  public:
    Reader(const std::string& file, const json& object, std::string where)
        : file_(file), object_(object), where_(std::move(where)) {
        if (!object_.is_object()) {
            Fail(where_.empty() ? "the document is not a JSON object" : "is not an object");
        }
    }
    [[noreturn]] void Fail(const std::string& what) const {
        throw TrackError(file_ + ": " + (where_.empty() ? "" : where_ + " ") + what);
    }
    [[noreturn]] void FailKey(const char* key, const std::string& what) const {
        throw TrackError(file_ + ": " + Place(key) + " " + what);
    }
    std::string Place(const char* key) const { return where_.empty() ? key : where_ + "." + key; }
    const json* Find(const char* key) const {
        const auto it = object_.find(key);
        return it == object_.end() ? nullptr : &*it;
    }
    const json& Need(const char* key) const {
        const json* value = Find(key);
        if (value == nullptr) {
            FailKey(key, "is missing");
        }
        return *value;
    }
    double Number(const json& value, const char* key) const {
        if (!value.is_number()) {
            FailKey(key, "is not a number");
        }
        const double d = value.get<double>();
        if (!std::isfinite(d)) {
            FailKey(key, "is not a finite number");
        }
        return d;
    }
    double Number(const char* key) const { return Number(Need(key), key); }
    std::int64_t Integer(const char* key) const {
        const json& value = Need(key);
        if (!value.is_number_integer()) {
            FailKey(key, "is not a whole number");
        }
        return value.get<std::int64_t>();
    }
    std::string String(const char* key) const {
        const json& value = Need(key);
        if (!value.is_string()) {
            FailKey(key, "is not a string");
        }
        return value.get<std::string>();
    }
    const json& Array(const char* key) const {
        const json& value = Need(key);
        if (!value.is_array()) {
            FailKey(key, "is not an array");
        }
        return value;
    }

  private:
    const std::string& file_;
    const json& object_;
    std::string where_;
};

int IntIn(const Reader& r, const char* key, std::int64_t lowest) {
    const std::int64_t v = r.Integer(key);
    if (v < lowest || v > INT32_MAX) {
        r.FailKey(key, "is out of range");
    }
    return int(v);
}

TrackClip ReadClip(const Reader& top, const std::string& name) {
    const Reader r(name, top.Need("clip"), "clip");
    TrackClip clip;
    if (r.Find("file") != nullptr) {
        clip.file = r.String("file");
    }
    clip.frames = r.Integer("frames");
    if (clip.frames < 0) {
        r.FailKey("frames", "is negative");
    }
    clip.width = r.Find("width") != nullptr ? IntIn(r, "width", 0) : 0;
    clip.height = r.Find("height") != nullptr ? IntIn(r, "height", 0) : 0;
    if (const json* rate = r.Find("rate"); rate != nullptr) {
        if (!rate->is_array() || rate->size() != 2 || !(*rate)[0].is_number_integer() ||
            !(*rate)[1].is_number_integer() || (*rate)[0].get<std::int64_t>() <= 0 ||
            (*rate)[1].get<std::int64_t>() <= 0 || (*rate)[0].get<std::int64_t>() > INT32_MAX ||
            (*rate)[1].get<std::int64_t>() > INT32_MAX) {
            r.FailKey("rate", "is not [numerator, denominator] of two positive whole numbers");
        }
        clip.rateNum = (*rate)[0].get<int>();
        clip.rateDen = (*rate)[1].get<int>();
    }
    return clip;
}

TrackRegion ReadRegion(const json& value, const std::string& name, const std::string& where) {
    const Reader r(name, value, where);
    TrackRegion region;
    region.id = IntIn(r, "id", INT32_MIN);
    const json& rect = r.Array("rect");
    if (rect.size() != 4) {
        r.FailKey("rect", "does not hold 4 numbers [left, top, width, height]");
    }
    region.left = r.Number(rect[0], "rect");
    region.top = r.Number(rect[1], "rect");
    region.width = r.Number(rect[2], "rect");
    region.height = r.Number(rect[3], "rect");
    if (region.width < 0 || region.height < 0) {
        r.FailKey("rect", "has a negative width or height");
    }
    if (r.Find("confidence") != nullptr) {
        region.confidence = r.Number("confidence");
        if (region.confidence < 0 || region.confidence > 1) {
            r.FailKey("confidence", "is not within 0..1");
        }
    }
    if (const json* review = r.Find("review"); review != nullptr) {
        if (!review->is_boolean()) {
            r.FailKey("review", "is not true or false");
        }
        region.review = review->get<bool>();
    }
    return region;
}

TrackFrame ReadFrame(const json& value, const std::string& name, size_t position) {
    const std::string where = "frames[" + std::to_string(position) + "]";
    const Reader r(name, value, where);
    TrackFrame frame;
    frame.index = r.Integer("index");
    if (frame.index != std::int64_t(position)) {
        r.FailKey("index", "is " + std::to_string(frame.index) + " where " +
                               std::to_string(position) + " belongs (out of order)");
    }
    frame.time = r.Number("time");
    const json& regions = r.Array("regions");
    for (size_t i = 0; i < regions.size(); ++i) {
        frame.regions.push_back(
            ReadRegion(regions[i], name, where + ".regions[" + std::to_string(i) + "]"));
    }
    // Drawn in the order of their ids; equal ids keep the file's order.
    std::stable_sort(frame.regions.begin(), frame.regions.end(),
                     [](const TrackRegion& a, const TrackRegion& b) { return a.id < b.id; });
    return frame;
}

void CheckHeader(const Reader& r) {
    const json& format = r.Need("format");
    if (!format.is_string() || format.get<std::string>() != kFormat) {
        r.Fail(std::string("is not a track file (format is not \"") + kFormat + "\")");
    }
    const std::int64_t version = r.Integer("version");
    if (version != kVersion) {
        r.Fail("has version " + std::to_string(version) + "; this program reads version " +
               std::to_string(kVersion));
    }
}

// Closes a descriptor and, unless kept, removes the temporary file it was opened on.
class TempFile {
  public:
    explicit TempFile(std::string path) : path_(std::move(path)) { fd_ = mkstemp(path_.data()); }
    ~TempFile() {
        if (fd_ >= 0) {
            close(fd_);
        }
        if (!kept_ && fd_ >= 0) {
            unlink(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    void Keep() { kept_ = true; }

  private:
    std::string path_;
    int fd_ = -1;
    bool kept_ = false;
};

// The shortest text that reads back as the same double, whatever the locale.
std::string Number(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Property(const std::string& name, const std::string& value) {
    return "      <property name=\"" + name + "\">" + XmlEscaped(value) + "</property>\n";
}

// One id's left/top/width/height keyframes, a discrete key on every frame ("N|=V"), so that
// no host interpolates between two frames' places.
std::string RegionFilter(const Track& track, int id, int blockW, int blockH, int opacity) {
    std::string keys[4];
    for (size_t f = 0; f < track.frames.size(); ++f) {
        const TrackFrame& frame = track.frames[f];
        const auto it = std::find_if(frame.regions.begin(), frame.regions.end(),
                                     [id](const TrackRegion& r) { return r.id == id; });
        const TrackRegion none{id, 0, 0, 0, 0, 1, false};
        const TrackRegion& r = it == frame.regions.end() ? none : *it;
        const double values[4] = {r.left, r.top, r.width, r.height};
        for (int k = 0; k < 4; ++k) {
            keys[k] += (f == 0 ? "" : ";") + std::to_string(f) + "|=" + Number(values[k]);
        }
    }
    std::string out = "    <filter id=\"region" + std::to_string(id) + "\">\n";
    out += Property("mlt_service", "frei0r.tessera");
    const char* names[4] = {"left", "top", "width", "height"};
    for (int k = 0; k < 4; ++k) {
        out += Property(names[k], keys[k]);
    }
    // Half a unit over, so that the plug-in's truncation gives back the very units.
    out += Property("blockw", Number((blockW + 0.5) / 1000.0));
    out += Property("blockh", Number((blockH + 0.5) / 1000.0));
    out += Property("opacity", Number((opacity + 0.5) / 100.0));
    return out + "    </filter>\n";
}

} // namespace

Track ParseTrack(std::string_view text, const std::string& name) {
    json document;
    try {
        document = json::parse(text.begin(), text.end());
    } catch (const json::exception& e) {
        throw TrackError(name + ": not JSON (" + e.what() + ")");
    }
    const Reader r(name, document, "");
    CheckHeader(r);
    Track track;
    track.clip = ReadClip(r, name);
    const json& frames = r.Array("frames");
    track.frames.reserve(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        track.frames.push_back(ReadFrame(frames[i], name, i));
        if (i > 0 && track.frames[i].time <= track.frames[i - 1].time) {
            r.Fail("frames[" + std::to_string(i) + "].time does not follow the frame before");
        }
    }
    if (track.clip.frames != std::int64_t(track.frames.size())) {
        r.Fail("clip.frames is " + std::to_string(track.clip.frames) + " but the file holds " +
               std::to_string(track.frames.size()) + " frames");
    }
    return track;
}

std::string FormatTrack(const Track& track) {
    Ordered doc;
    doc["format"] = kFormat;
    doc["version"] = kVersion;
    Ordered& clip = doc["clip"];
    clip["file"] = track.clip.file;
    clip["frames"] = track.clip.frames;
    clip["width"] = track.clip.width;
    clip["height"] = track.clip.height;
    if (track.clip.rateNum > 0 && track.clip.rateDen > 0) {
        clip["rate"] = {track.clip.rateNum, track.clip.rateDen};
    }
    Ordered frames = Ordered::array();
    for (const TrackFrame& f : track.frames) {
        Ordered regions = Ordered::array();
        for (const TrackRegion& r : f.regions) {
            regions.push_back({{"id", r.id},
                               {"rect", {r.left, r.top, r.width, r.height}},
                               {"confidence", r.confidence},
                               {"review", r.review}});
        }
        frames.push_back({{"index", f.index}, {"time", f.time}, {"regions", regions}});
    }
    doc["frames"] = std::move(frames);
    return doc.dump(2) + "\n";
}

Track ReadTrackFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw TrackError(path.string() + ": cannot be read (" + std::strerror(errno) + ")");
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        throw TrackError(path.string() + ": cannot be read");
    }
    return ParseTrack(text, path.string());
}

void WriteTrackFile(const Track& track, const std::filesystem::path& path) {
    const std::string text = FormatTrack(track);
    const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : ".";
    TempFile temp((dir / ("." + path.filename().string() + ".XXXXXX")).string());
    const auto fail = [&](const char* what) {
        throw TrackError(path.string() + ": " + what + " (" + std::strerror(errno) + ")");
    };
    if (temp.fd() < 0) {
        fail("cannot be written");
    }
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(temp.fd(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            fail("cannot be written");
        }
        done += size_t(n);
    }
    (void)fchmod(temp.fd(), 0644); // as an ordinary new file; mkstemp makes it private
    if (fsync(temp.fd()) != 0) {
        fail("cannot be written to disk");
    }
    if (std::rename(temp.path().c_str(), path.c_str()) != 0) {
        fail("cannot be put in place");
    }
    temp.Keep();
}

const TrackFrame* FrameAtTime(const Track& track, double seconds) {
    const std::vector<TrackFrame>& frames = track.frames;
    if (frames.empty() || std::isnan(seconds)) {
        return nullptr;
    }
    double half = 0;
    if (track.clip.rateNum > 0 && track.clip.rateDen > 0) {
        half = 0.5 * double(track.clip.rateDen) / double(track.clip.rateNum);
    } else if (frames.size() > 1) {
        half = 0.5 * (frames[1].time - frames[0].time);
    }
    const double limit = seconds + half;
    const auto after = std::upper_bound(frames.begin(), frames.end(), limit,
                                        [](double t, const TrackFrame& f) { return t < f.time; });
    return after == frames.begin() ? nullptr : &*(after - 1);
}

std::int64_t ReviewFrameCount(const Track& track) {
    return std::count_if(track.frames.begin(), track.frames.end(), [](const TrackFrame& f) {
        return std::any_of(f.regions.begin(), f.regions.end(),
                           [](const TrackRegion& r) { return r.review; });
    });
}

std::string FormatMltKeyframes(const Track& track, const std::string& inputPath, int blockW,
                               int blockH, int opacityPercent) {
    std::map<int, bool> ids;
    for (const TrackFrame& f : track.frames) {
        for (const TrackRegion& r : f.regions) {
            ids[r.id] = true;
        }
    }
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<mlt LC_NUMERIC=\"C\">\n";
    const TrackClip& c = track.clip;
    if (c.width > 0 && c.height > 0 && c.rateNum > 0) {
        out += "  <profile width=\"" + std::to_string(c.width) + "\" height=\"" +
               std::to_string(c.height) + "\" frame_rate_num=\"" + std::to_string(c.rateNum) +
               "\" frame_rate_den=\"" + std::to_string(c.rateDen) +
               "\" progressive=\"1\" sample_aspect_num=\"1\" sample_aspect_den=\"1\"" +
               " display_aspect_num=\"" + std::to_string(c.width) + "\" display_aspect_den=\"" +
               std::to_string(c.height) + "\" colorspace=\"709\"/>\n";
    }
    out += "  <producer id=\"clip\">\n" + Property("resource", inputPath);
    for (const auto& [id, present] : ids) {
        out += RegionFilter(track, id, blockW, blockH, opacityPercent);
    }
    return out + "  </producer>\n</mlt>\n";
}

} // namespace tessera::tracks
