// fuzz_readconfig - the whole read path of a saved configuration: start-up of the master
// record (EnsurePrefsFile, defaults, ReadConfig, SaveConfig) on an arbitrary preferences
// file, then frames rendered with the configuration that came out of it.
//
// The first input byte picks what the rest is: 0 the whole preferences file; 1 the
// contents of resource 'Pref' 1 in a sound preferences file; 2 the record's fields after a
// valid size word and version (so every input reaches the renderer with its values).
// Checks beyond crashes, undefined behaviour and leaks: when the file was sound, start-up
// leaves it holding exactly the live configuration.
#include "FuzzSupport.h"

#include "AppleSingle.h"
#include "DataHandling.h"
#include "MacMemory.h"
#include "PlugInCore.h"
#include "QuickDraw.h"
#include "Resources.h"
#include "gworldprocs.h"
#include "prefsloader.h"

#include <cstring>
#include <span>
#include <vector>

using toolbox::rsrc::ResourceMap;

namespace {

const std::filesystem::path& PrefsFolder() {
    static const std::filesystem::path dir = [] {
        const auto d = fuzzsupport::ScratchDir() / "config";
        std::filesystem::create_directories(d);
        setenv("XDG_CONFIG_HOME", d.c_str(), 1);
        return d;
    }();
    return dir;
}

std::vector<UInt8> PrefsFileHolding(const std::vector<UInt8>& record) {
    ResourceMap map;
    map.resources.push_back({cPrefsType, cPrefsResID, std::string(cPrefsResName), 0, record});
    std::vector<UInt8> fork;
    if (map.serialize(fork) != noErr) {
        fuzzsupport::Broken("a one-resource map cannot be written");
    }
    toolbox::applesingle::File file;
    file.setTypeAndCreator(cPrefsType, cPrefsCreator);
    file.set(toolbox::applesingle::kResourceFork, std::move(fork));
    return toolbox::applesingle::serialize(file);
}

std::vector<UInt8> SavedBytes(const pluginDataRec* config) {
    Handle h = NewHandleClear(Size(cConfigSaveSize));
    if (!Config2Save(config, h)) {
        fuzzsupport::Broken("Config2Save failed on a live record");
    }
    std::vector<UInt8> out(*h, *h + cConfigSaveSize);
    DisposeHandle(h);
    return out;
}

void RenderOneFrame(pluginDataRec* config, SInt16 width, SInt16 height) {
    const Rect bounds{0, 0, height, width};
    GWorldPtr source = AllocateRectGWorld(bounds);
    GWorldPtr target = AllocateRectGWorld(bounds);
    if (source == nullptr || target == nullptr) {
        fuzzsupport::Broken("a small frame cannot be allocated");
    }
    PixMapHandle pm = GetGWorldPixMap(source);
    Ptr base = GetPixBaseAddr(pm);
    const SInt32 rowBytes = GetPixRowBytes(pm);
    for (SInt16 y = 0; y < height; ++y) {
        for (SInt16 x = 0; x < width; ++x) {
            UInt8* p = reinterpret_cast<UInt8*>(base + y * rowBytes + 4 * x);
            p[0] = 255;
            p[1] = UInt8(x * 7);
            p[2] = UInt8(y * 13);
            p[3] = UInt8(x ^ y);
        }
    }
    Source2Target(source, target);
    SInt16 opacity = 0;
    DoEffect(config, nullptr, source, target, 0, 0, 0, 1, 0.5f, 0.5f, 0.5f, opacity);
    DisposeGWorld(target);
    DisposeGWorld(source);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const auto file = PrefsFolder() / cPrefsFileName;
    const int mode = data[0] % 3;
    const std::span<const UInt8> rest(data + 1, size - 1);
    if (mode == 0) {
        fuzzsupport::WriteFile(file, rest.data(), rest.size());
    } else {
        std::vector<UInt8> record(rest.begin(), rest.end());
        if (mode == 2) {
            record.resize(cConfigSaveSize - 8);
            record.insert(record.begin(), 8, 0);
            const UInt32 head[2] = {cConfigSaveSize, cConfigSaveVersion};
            std::memcpy(record.data(), head, sizeof head);
        }
        const auto bytes = PrefsFileHolding(record);
        fuzzsupport::WriteFile(file, bytes.data(), bytes.size());
    }

    auto* config = reinterpret_cast<pluginDataRec*>(NewPtrClear(sizeof(pluginDataRec)));
    InitMyPlugIn(config);

    if (mode != 0) {
        pluginDataRec reread;
        std::memset(&reread, 0, sizeof reread);
        ResetConfig(&reread, true);
        if (!ReadConfig(&reread)) {
            fuzzsupport::Broken("start-up left a sound preferences file unreadable");
        }
        if (SavedBytes(&reread) != SavedBytes(config)) {
            fuzzsupport::Broken("the preferences file does not hold the live configuration");
        }
    }

    RenderOneFrame(config, 97, 61);
    RenderOneFrame(config, 1, 1);
    DisposePtr(Ptr(config));
    return 0;
}
