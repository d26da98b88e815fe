// commands.h - the fxhost commands other than render: info, thumbnail, configure.
//
// Owns: what each command prints or writes. Promises: a failure is thrown as a HostError
// with one line of text; nothing is written under an output's name unless complete.
#pragma once

#include "hostsession.h"

#include <filesystem>
#include <optional>
#include <utility>

namespace fxhost::cli {

void RunInfo(const std::filesystem::path& plugin, bool json);

struct ThumbnailRequest {
    std::filesystem::path input, output, plugin;
    std::optional<std::pair<int, int>> size;
    SInt32 frame = 0; // the placeholder's bestThumbOffset
    bool overwrite = false;
};
void RunThumbnail(const ThumbnailRequest& request);

// Makes the plug-in know the clip (one begin, one frame, one end, as a host does before its
// user can press the button), then presses its custom button with the clip's frame
// `frame`: the plug-in's dialog runs inside this call. Without a display it throws
// (Unsupported) before anything is loaded.
struct ConfigureRequest {
    std::filesystem::path input, plugin;
    SInt32 frame = 0;
};
void RunConfigure(const ConfigureRequest& request);

} // namespace fxhost::cli
