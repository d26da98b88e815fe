// fuzz_infoplist - the bundle reader on an arbitrary Info.plist (XML, binary or garbage).
//
// A bundle with a damaged Info.plist must still open as a bundle with fewer keys: its
// identifier, executable and resources are looked up without crashing, a bundle with an
// identifier is found by it while it is held, and releasing it forgets it.
#include "FuzzSupport.h"

#include "CoreFoundation.h"

#include <filesystem>

namespace {

const std::filesystem::path& BundleDir() {
    static const std::filesystem::path dir = [] {
        const auto d = fuzzsupport::ScratchDir() / "Fuzz.bundle";
        std::filesystem::create_directories(d / "Contents" / "Resources");
        std::filesystem::create_directories(d / "Contents" / "Linux");
        fuzzsupport::WriteFile(d / "Contents" / "Resources" / "Fuzz.rsrc", nullptr, 0);
        return d;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto& dir = BundleDir();
    fuzzsupport::WriteFile(dir / "Contents" / "Info.plist", data, size);

    using toolbox::cf::CFRef;
    const CFRef<CFURLRef> url(CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const UInt8*>(dir.c_str()),
        CFIndex(dir.string().size()), true));
    CFRef<CFBundleRef> held(CFBundleCreate(kCFAllocatorDefault, url.get()));
    CFBundleRef bundle = held.get();
    if (bundle == nullptr) {
        fuzzsupport::Broken("a bundle directory did not open because of its Info.plist");
    }
    CFStringRef identifier = CFBundleGetIdentifier(bundle);
    std::string idText;
    if (identifier != nullptr) {
        idText = toolbox::cf::utf8(identifier);
        // An empty identifier names no bundle.
        if (!idText.empty() && CFBundleGetBundleWithIdentifier(identifier) == nullptr) {
            fuzzsupport::Broken("a held bundle is not found by its identifier");
        }
    }
    for (const char* key : {"CFBundleExecutable", "CFBundleName", "CFBundleVersion",
                            "CFBundleIdentifier", "NSHumanReadableCopyright"}) {
        const CFRef<CFStringRef> k(toolbox::cf::makeString(key));
        CFTypeRef v = CFBundleGetValueForInfoDictionaryKey(bundle, k.get());
        if (v != nullptr) {
            (void)toolbox::cf::utf8(static_cast<CFStringRef>(v));
        }
    }
    const CFRef<CFURLRef> exe(CFBundleCopyExecutableURL(bundle));
    const CFRef<CFURLRef> res(CFBundleCopyResourceURL(bundle, CFSTR("Fuzz"), CFSTR("rsrc"), nullptr));
    const ResFileRefNum ref = CFBundleOpenBundleResourceMap(bundle);
    if (ref != kResFileNotOpened) {
        CFBundleCloseBundleResourceMap(bundle, ref);
    }
    held.reset();
    if (!idText.empty()) {
        const CFRef<CFStringRef> again(toolbox::cf::makeString(idText));
        if (again && CFBundleGetBundleWithIdentifier(again.get()) != nullptr) {
            fuzzsupport::Broken("a released bundle is still found by its identifier");
        }
    }
    return 0;
}
