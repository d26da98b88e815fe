// commands.cpp - fxhost info and fxhost thumbnail.
#include "commands.h"

#include "CoreFoundation.h"
#include "hosterror.h"
#include "outputfile.h"
#include "pluginbundle.h"
#include "pngwriter.h"
#include "resultnames.h"
#include "videosource.h"

#if FXHOST_WITH_WINDOWS
#include "ToolboxUITesting.h"
#endif

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fxhost::cli {

namespace {

// The plug-in's texts are Mac Roman (its string lists are); show them as UTF-8.
std::string Text(const char* field, std::size_t size) {
    std::string raw(field, strnlen(field, size));
    const toolbox::cf::CFRef<CFStringRef> s(
        CFStringCreateWithCString(kCFAllocatorDefault, raw.c_str(), kCFStringEncodingMacRoman));
    return s ? toolbox::cf::utf8(s.get()) : raw;
}
template <std::size_t N> std::string Text(const char (&field)[N]) {
    return Text(field, N);
}

const char* TypeName(int type) {
    switch (type) {
    case kPluginTitleType:
        return "title";
    case kPluginTransitionBeforeType:
        return "transition before";
    case kPluginTransitionBetweenType:
        return "transition between";
    case kPluginTransitionAfterType:
        return "transition after";
    case kPluginFilterType:
        return "filter";
    default:
        return "unknown";
    }
}

// The description as JSON, its keys in the order they are set. Its numbers are the
// plug-in's floats and are kept as floats, so that each is written in the fewest digits that
// read back as that float (not as the double nearest it).
using InfoJson = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool,
                                      std::int64_t, std::uint64_t, float>;

// Indented by two. A NaN or infinite default is null (JSON has neither). Bytes that are not
// UTF-8 (a bundle path can hold any) are written as U+FFFD rather than refused.
void PrintInfoJson(const PluginBundle& bundle, const _PluginParams& p, const char* flags) {
    const HYPluginGetInfo& g = p.getInfo;
    const HY2PluginGetInfo& g2 = p.getInfo2;
    InfoJson info = {{"bundle", bundle.path().string()},
                     {"identifier", bundle.identifier()},
                     {"type", int(g.pluginType)},
                     {"typeName", TypeName(g.pluginType)},
                     {"flags", flags},
                     {"framesToBeRendered", g.framesToBeRendered},
                     {"takeFromClipBefore", g.takeFromClipBefore},
                     {"takeFromClipAfter", g.takeFromClipAfter},
                     {"baseMemoryNeeded", g2.baseMemoryNeeded}};
    InfoJson& sliders = info["sliders"] = InfoJson::array();
    for (const HYPluginFilterSliderInfo& s : g2.filterSliders) {
        sliders.push_back({{"label", Text(s.label)},
                           {"minLabel", Text(s.minLabel)},
                           {"maxLabel", Text(s.maxLabel)},
                           {"default", s.defaultValue}});
    }
    info["buttonTitle"] = Text(p.getInfo3.buttonTitle);
    info["group"] = Text(g2.group);
    std::printf("%s\n", info.dump(2, ' ', false, InfoJson::error_handler_t::replace).c_str());
}

} // namespace

void RunInfo(const std::filesystem::path& pluginPath, bool json) {
    const PluginBundle bundle(pluginPath);
    GeneratedFrameSource none(16, 16, 1);
    HostSession session(bundle, none);
    if (SInt32 r = session.getInfo(0); r != kPluginOK) {
        throw HostError(ErrorKind::PluginResult, "plug-in " + bundle.path().filename().string() +
                                                     " returned " + DescribeResult(r) +
                                                     " when asked for its description");
    }
    const _PluginParams& p = session.params();
    const HYPluginGetInfo& g = p.getInfo;
    const HY2PluginGetInfo& g2 = p.getInfo2;
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%08x", unsigned(g.pluginFlags));
    if (json) {
        PrintInfoJson(bundle, p, flags);
        return;
    }
    std::printf("Plug-in:            %s (%s)\n", bundle.path().string().c_str(),
                bundle.identifier().c_str());
    std::printf("Type:               %d (%s)\n", int(g.pluginType), TypeName(g.pluginType));
    std::printf("Flags:              %s\n", flags);
    std::printf("Frames to render:   %d (before %d, after %d: as many as selected)\n",
                g.framesToBeRendered, g.takeFromClipBefore, g.takeFromClipAfter);
    std::printf("Memory needed:      %d bytes\n", g2.baseMemoryNeeded);
    for (int i = 0; i < 3; ++i) {
        const HYPluginFilterSliderInfo& s = g2.filterSliders[i];
        std::printf("Slider %d:           \"%s\"  [\"%s\" .. \"%s\"]  default %g\n", i + 1,
                    Text(s.label).c_str(), Text(s.minLabel).c_str(), Text(s.maxLabel).c_str(),
                    double(s.defaultValue));
    }
    std::printf("Button:             \"%s\"\n", Text(p.getInfo3.buttonTitle).c_str());
    std::printf("Group:              \"%s\"\n", Text(g2.group).c_str());
}

void RunThumbnail(const ThumbnailRequest& rq) {
    media::CheckOutputFree(rq.output, rq.overwrite);
    media::CheckNotInput(rq.output, rq.input, false);
    media::FFmpegFrameSource source(rq.input);
    const PluginBundle bundle(rq.plugin);
    HostSession session(bundle, source);
    const int w = rq.size ? rq.size->first : source.width();
    const int h = rq.size ? rq.size->second : source.height();
    session.setFrameSize(w, h);
    const SInt32 count = SInt32(source.frameCount());
    if (rq.frame < 0 || rq.frame >= count) {
        throw HostError(ErrorKind::Usage, "--frame " + std::to_string(rq.frame) +
                                              " is outside the clip (0.." +
                                              std::to_string(count - 1) + ")");
    }
    const std::string name = bundle.path().filename().string();
    if (SInt32 r = session.getInfo(count); r != kPluginOK) {
        throw HostError(ErrorKind::PluginResult, "plug-in " + name + " returned " +
                                                     DescribeResult(r) +
                                                     " when asked for its description");
    }
    session.params().getInfo.bestThumbOffset = rq.frame;
    if (SInt32 r = session.placeholder(0, count); r != kPluginOK) {
        throw HostError(ErrorKind::PluginResult, "plug-in " + name + " returned " +
                                                     DescribeResult(r) +
                                                     " for the placeholder frame");
    }
    // The placeholder's own frame call may fail without changing its result: a frame
    // nobody rendered must not be passed off as the thumbnail.
    if (session.lastGetFrameResult() != kPluginOK) {
        if (!session.lastFrameError().empty()) {
            throw HostError(ErrorKind::Input, session.lastFrameError());
        }
        throw HostError(ErrorKind::PluginResult,
                        "plug-in " + name + " rendered no placeholder frame");
    }
    media::WritePng(rq.output, session.destinationPixels(), session.destinationRowBytes(), w, h,
                    rq.overwrite);
}

void RunConfigure(const ConfigureRequest& rq) {
#if FXHOST_WITH_WINDOWS
    // Qt can still give up after the display answered the check (it went away in between);
    // that too ends in one line and the status of a command that cannot run here.
    static const auto qtGaveUp = [](const char* why) {
        std::fprintf(stderr,
                     "fxhost: configure needs a display to show the dialog on (Qt could "
                     "not start: %s)\n",
                     why);
        std::_Exit(int(ErrorKind::Unsupported));
    };
    if (!toolbox::ui::testing::StartWindowing(+qtGaveUp)) {
        throw HostError(ErrorKind::Unsupported,
                        "configure needs a display to show the dialog on (none is reachable: "
                        "set DISPLAY or WAYLAND_DISPLAY)");
    }
#else
    throw HostError(ErrorKind::Unsupported, "configure: this fxhost was built without windows");
#endif
    media::FFmpegFrameSource source(rq.input);
    const PluginBundle bundle(rq.plugin);
    HostSession session(bundle, source);
    session.setFrameSize(source.width(), source.height());
    const SInt32 count = SInt32(source.frameCount());
    if (rq.frame < 0 || rq.frame >= count) {
        throw HostError(ErrorKind::Usage, "--frame " + std::to_string(rq.frame) +
                                              " is outside the clip (0.." +
                                              std::to_string(count - 1) + ")");
    }
    const std::string name = bundle.path().filename().string();
    auto check = [&](SInt32 r, const char* what) {
        if (r != kPluginOK) {
            throw HostError(ErrorKind::PluginResult,
                            "plug-in " + name + " returned " + DescribeResult(r) + " " + what);
        }
    };
    check(session.getInfo(count), "when asked for its description");
    // The dialog's clip slider counts from the frame it opens on up to the number of frames
    // the plug-in last saw; so the clip told to it starts at that frame, and the slider ends
    // at the clip's last frame instead of running past it.
    check(session.begin(rq.frame, count - rq.frame), "at the start of the clip");
    const SInt32 framed = session.frame(0);
    check(session.end(), "at the end of the clip");
    check(framed, "for the clip's frame");
    check(session.customButton(0), "for its custom button");
}

} // namespace fxhost::cli
