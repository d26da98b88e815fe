// pluginbundle.h - finding and loading a plug-in bundle.
//
// Owns: PluginBundle, a bundle directory `Name.bundle/Contents/` opened through the
// toolbox's Core Foundation (Info.plist, executable URL), its executable loaded with
// dlopen, its exported `main`, and its resource map opened so that the plug-in's string
// lists are found. Promises: construction either yields a callable `main` or throws a
// HostError of kind Plugin whose text says which of these failed: the bundle is missing,
// it has no Info.plist, its executable is missing or does not load, it exports no `main`.
// A loaded plug-in stays loaded for the life of the process, as it would in the editor:
// its globals (the master configuration) live on between sessions.
#pragma once

#include "HYPlugin.h"

#include <filesystem>
#include <optional>
#include <string>

namespace fxhost {

class PluginBundle {
  public:
    explicit PluginBundle(const std::filesystem::path& bundlePath);
    PluginBundle(const PluginBundle&) = delete;
    PluginBundle& operator=(const PluginBundle&) = delete;

    HYPluginMainProc entry() const { return main_; }
    const std::filesystem::path& path() const { return path_; }
    const std::string& identifier() const { return identifier_; }
    const std::filesystem::path& executable() const { return executable_; }

    // Which bundle a command uses: the explicit one if given, else $FXHOST_PLUGIN_PATH,
    // else Tessera.bundle next to the running program (`selfDir`), else the one in the
    // installed tree's private folder, `selfDir/../lib/tessera` (kInstalledBundleDir). A
    // bare name (no slash) that is not there in the working folder names a bundle in those
    // same two places, in that order, with or without ".bundle": `--plugin TesseraMotion`.
    // When none of the places has it, the answer is the place next to the program, so that
    // the error names where a bundle was looked for first.
    static constexpr const char* kInstalledBundleDir = "../lib/tessera";
    static std::filesystem::path Locate(const std::optional<std::filesystem::path>& explicitPath,
                                        const std::filesystem::path& selfDir);

  private:
    std::filesystem::path path_;
    std::filesystem::path executable_;
    std::string identifier_;
    void* handle_ = nullptr;
    HYPluginMainProc main_ = nullptr;
};

} // namespace fxhost
