// reload_module.cpp - a stand-in plug-in for the reload test: a loadable module that uses
// the windowing toolbox (a nib window, a custom control class) and is then unloaded.
#include "HIToolbox.h"

#include <cstring>

namespace {
OSStatus Draw(EventHandlerCallRef, EventRef, void*) {
    return noErr;
}
} // namespace

// Opens the window "main" of the nib "test" in the bundle at bundlePath, with a custom
// class registered around it, and disposes of everything. noErr on success.
extern "C" __attribute__((visibility("default"))) OSStatus
ReloadModuleOpenWindow(const char* bundlePath) {
    CFURLRef url =
        CFURLCreateFromFileSystemRepresentation(nullptr, reinterpret_cast<const UInt8*>(bundlePath),
                                                CFIndex(std::strlen(bundlePath)), true);
    CFBundleRef bundle = CFBundleCreate(nullptr, url);
    CFRelease(url);
    if (bundle == nullptr) {
        return fnfErr;
    }
    const EventTypeSpec draw{kEventClassControl, kEventControlDraw};
    ToolboxObjectClassRef cls = nullptr;
    OSStatus r = RegisterToolboxObjectClass(CFSTR("org.tessera.test.reload"), nullptr, 1, &draw,
                                            Draw, nullptr, &cls);
    IBNibRef nib = nullptr;
    if (r == noErr) {
        r = CreateNibReferenceWithCFBundle(bundle, CFSTR("test"), &nib);
    }
    WindowRef w = nullptr;
    if (r == noErr) {
        r = CreateWindowFromNib(nib, CFSTR("main"), &w);
        DisposeNibReference(nib);
    }
    if (r == noErr) {
        ShowWindow(w);
        DisposeWindow(w);
    }
    if (cls != nullptr) {
        UnregisterToolboxObjectClass(cls);
    }
    CFRelease(bundle);
    return r;
}
