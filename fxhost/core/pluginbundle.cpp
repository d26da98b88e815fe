// pluginbundle.cpp - loading a plug-in bundle through the toolbox's Core Foundation.
#include "pluginbundle.h"

#include "CoreFoundation.h"
#include "hosterror.h"

#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <set>
#include <system_error>
#include <type_traits>

namespace fxhost {

namespace fs = std::filesystem;

namespace {
[[noreturn]] void Fail(const std::string& text) {
    throw HostError(ErrorKind::Plugin, text);
}

// Held until the bundle is known to be usable; a failure on the way releases them.
struct CloseLibrary {
    void operator()(void* handle) const { dlclose(handle); }
};
} // namespace

PluginBundle::PluginBundle(const fs::path& bundlePath) : path_(bundlePath) {
    std::error_code ec;
    if (!fs::is_directory(bundlePath, ec)) {
        Fail("plug-in bundle '" + bundlePath.string() + "' does not exist");
    }
    // The toolbox reads a missing Info.plist as an empty one; say so plainly instead of
    // failing later for want of an executable name.
    if (!fs::is_regular_file(bundlePath / "Contents" / "Info.plist", ec)) {
        Fail("plug-in bundle '" + bundlePath.string() + "' has no Contents/Info.plist");
    }
    const std::string absolute = fs::absolute(bundlePath, ec).lexically_normal().string();
    const toolbox::cf::CFRef<CFURLRef> url(CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const UInt8*>(absolute.data()),
        CFIndex(absolute.size()), true));
    toolbox::cf::CFRef<CFBundleRef> held(url ? CFBundleCreate(kCFAllocatorDefault, url.get())
                                             : nullptr);
    CFBundleRef bundle = held.get();
    if (!bundle) {
        Fail("plug-in bundle '" + bundlePath.string() + "' cannot be opened");
    }
    // The bundle object stays retained: the toolbox's registry finds a loaded plug-in by
    // its identifier for as long as someone holds it, and the plug-in looks itself up.
    identifier_ = toolbox::cf::utf8(CFBundleGetIdentifier(bundle));
    const toolbox::cf::CFRef<CFURLRef> exe(CFBundleCopyExecutableURL(bundle));
    if (!exe) {
        Fail("plug-in bundle '" + bundlePath.string() +
             "' has no executable (CFBundleExecutable in Info.plist, file in Contents/Linux)");
    }
    executable_ = toolbox::cf::path(exe.get());

    std::unique_ptr<void, CloseLibrary> library(dlopen(executable_.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!library) {
        const char* why = dlerror();
        Fail("plug-in '" + executable_.string() + "' does not load: " + (why ? why : "?"));
    }
    dlerror();
    void* symbol = dlsym(library.get(), "main");
    // dlsym also searches the plug-in's dependencies; a `main` found there is not the
    // plug-in's own entry.
    Dl_info where{};
    std::error_code same;
    if (!symbol || !dladdr(symbol, &where) || !where.dli_fname ||
        !fs::equivalent(fs::path(where.dli_fname), executable_, same)) {
        Fail("plug-in '" + executable_.string() + "' exports no 'main'");
    }
    main_ = reinterpret_cast<HYPluginMainProc>(symbol);
    // From here the plug-in is in use: it stays loaded and its bundle retained.
    handle_ = library.release();
    held.release();
    // The plug-in's GetIndString reads its string lists from the current resource chain.
    // Opened once per bundle and process, however many sessions load it.
    static std::set<std::string> opened;
    if (opened.insert(absolute).second) {
        CFBundleOpenBundleResourceMap(bundle);
    }
}

fs::path PluginBundle::Locate(const std::optional<fs::path>& explicitPath,
                              const fs::path& selfDir) {
    // Next to the program is the build tree's layout (and a copied-together folder); the
    // private folder is cmake --install's, where bundles stay out of the prefix's bin/.
    const fs::path places[] = {selfDir, (selfDir / kInstalledBundleDir).lexically_normal()};
    std::error_code ec;
    if (explicitPath && !explicitPath->empty()) {
        const std::string name = explicitPath->string();
        if (name.find('/') == std::string::npos && !fs::exists(*explicitPath, ec)) {
            for (const fs::path& place : places) {
                for (const fs::path& candidate : {place / name, place / (name + ".bundle")}) {
                    if (fs::is_directory(candidate, ec)) {
                        return candidate;
                    }
                }
            }
        }
        return *explicitPath;
    }
    if (const char* env = std::getenv("FXHOST_PLUGIN_PATH"); env && *env) {
        return fs::path(env);
    }
    for (const fs::path& place : places) {
        if (fs::is_directory(place / "Tessera.bundle", ec)) {
            return place / "Tessera.bundle";
        }
    }
    return selfDir / "Tessera.bundle";
}

} // namespace fxhost
