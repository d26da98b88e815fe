// fuzz_nib - the nib loader on an arbitrary Qt Designer file: the input is the one window
// "window.ui" of the nib "fuzz" of a bundle, loaded with CreateNibReferenceWithCFBundle and
// CreateWindowFromNib on Qt's offscreen platform.
//
// Whatever the file holds, the loader either makes a hidden window or fails with a code and
// no window; a window made gives up its controls by ID and is disposed of without leaks.
#include "FuzzSupport.h"

#include "CoreFoundation.h"
#include "HIToolbox.h"

#include <cstdlib>
#include <filesystem>

namespace {

CFBundleRef FuzzBundle() {
    static CFBundleRef bundle = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const auto dir = fuzzsupport::ScratchDir() / "Nib.bundle";
        std::filesystem::create_directories(dir / "Contents" / "Resources" / "fuzz.nib");
        static const char plist[] =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>CFBundleIdentifier</key><string>org.tessera.fuzz.nib</string></dict></plist>\n";
        fuzzsupport::WriteFile(dir / "Contents" / "Info.plist",
                               reinterpret_cast<const uint8_t*>(plist), sizeof plist - 1);
        const toolbox::cf::CFRef<CFURLRef> url(CFURLCreateFromFileSystemRepresentation(
            kCFAllocatorDefault, reinterpret_cast<const UInt8*>(dir.c_str()),
            CFIndex(dir.string().size()), true));
        CFBundleRef b = CFBundleCreate(kCFAllocatorDefault, url.get());
        if (b == nullptr) {
            fuzzsupport::Broken("the nib bundle cannot be opened");
        }
        return b; // held for the whole run
    }();
    return bundle;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CFBundleRef bundle = FuzzBundle();
    const auto file = fuzzsupport::ScratchDir() / "Nib.bundle" / "Contents" / "Resources" /
                      "fuzz.nib" / "window.ui";
    fuzzsupport::WriteFile(file, data, size);

    IBNibRef nib = nullptr;
    if (CreateNibReferenceWithCFBundle(bundle, CFSTR("fuzz"), &nib) != noErr) {
        fuzzsupport::Broken("an existing nib cannot be opened");
    }
    WindowRef window = nullptr;
    const OSStatus err = CreateWindowFromNib(nib, CFSTR("window"), &window);
    if (err != noErr && window != nullptr) {
        fuzzsupport::Broken("a failed CreateWindowFromNib left a window behind");
    }
    if (window != nullptr) {
        if (IsWindowVisible(window)) {
            fuzzsupport::Broken("a window from a nib was shown before its caller showed it");
        }
        Rect bounds;
        GetWindowPortBounds(window, &bounds);
        for (OSType sig : {OSType(0x536C6472) /* Sldr */, OSType(0x436C6970) /* Clip */}) {
            for (SInt32 n = -1; n <= 3; ++n) {
                const ControlID id{sig, n};
                ControlRef control = nullptr;
                if (GetControlByID(window, &id, &control) == noErr && control != nullptr) {
                    (void)GetControl32BitValue(control);
                    Rect r;
                    GetControlBounds(control, &r);
                }
            }
        }
        DisposeWindow(window);
    }
    DisposeNibReference(nib);
    return 0;
}
