// fuzz_resource_file - the resource-file reader on arbitrary bytes, both as a bundle holds
// resource files (a plain file, opened read-only) and as the preferences file holds them
// (the resource fork of an AppleSingle file, opened for writing).
//
// Beyond "no crash, no undefined behaviour, no leak", it checks the reader's promises:
// - what parse() accepts, serialize() writes and parse() reads back equal;
// - the Manager walks every type and resource of a file it opened without reading past
//   them, and hands out handles holding exactly the resource's data;
// - adding a resource to a damaged-but-accepted file and saving it loses nothing that was
//   there: after reopening, every old resource reads back byte for byte, and the new one too.
#include "FuzzSupport.h"

#include "AppleSingle.h"
#include "MacMemory.h"
#include "Resources.h"

#include <cstring>
#include <span>

using toolbox::rsrc::Fork;
using toolbox::rsrc::ResourceMap;

namespace {

constexpr ResType kAddedType = 0x46555A5A; // 'FUZZ'

// Reads every resource of the current file through the Manager.
void WalkCurrentFile() {
    const SInt16 types = Count1Types();
    for (SInt16 t = 1; t <= types; ++t) {
        ResType type = 0;
        Get1IndType(&type, t);
        const SInt16 count = Count1Resources(type);
        for (SInt16 i = 1; i <= count; ++i) {
            Handle h = Get1IndResource(type, i);
            if (h == nullptr) {
                continue;
            }
            ResID id = 0;
            ResType gotType = 0;
            Str255 name;
            GetResInfo(h, &id, &gotType, name);
            if (gotType != type) {
                fuzzsupport::Broken("GetResInfo gives another type than Get1IndType");
            }
            (void)GetResAttrs(h);
            const Size size = GetHandleSize(h);
            if (size != GetResourceSizeOnDisk(h)) {
                fuzzsupport::Broken("a resource handle's size differs from its size on disk");
            }
            // Touch every byte: an overrun shows under AddressSanitizer.
            volatile UInt8 sum = 0;
            for (Size k = 0; k < size; ++k) {
                sum = sum + UInt8((*h)[k]);
            }
            ReleaseResource(h);
        }
    }
}

bool SameAsOnDisk(const toolbox::rsrc::Resource& r) {
    Handle h = Get1Resource(r.type, r.id);
    if (h == nullptr) {
        return false;
    }
    const bool same = GetHandleSize(h) == Size(r.data.size()) &&
                      (r.data.empty() || std::memcmp(*h, r.data.data(), r.data.size()) == 0);
    ReleaseResource(h);
    return same;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const UInt8> bytes(data, size);

    ResourceMap map;
    const bool parsed = ResourceMap::parse(bytes, map) == noErr;
    if (parsed) {
        std::vector<UInt8> written;
        if (map.serialize(written) == noErr) {
            ResourceMap again;
            if (ResourceMap::parse(written, again) != noErr || !(again == map)) {
                fuzzsupport::Broken("serialize() of a parsed map does not read back equal");
            }
        }
    }

    // A bundle's resource file: plain, read-only.
    const auto plain = fuzzsupport::ScratchDir() / "Bundle.rsrc";
    fuzzsupport::WriteFile(plain, data, size);
    ResFileRefNum ref = toolbox::rsrc::openResourceFile(plain.string(), Fork::data, fsRdPerm);
    if (ref != kResFileNotOpened) {
        WalkCurrentFile();
        CloseResFile(ref);
    }

    // The preferences file's kind: the same bytes as the resource fork of an AppleSingle file.
    toolbox::applesingle::File single;
    single.setTypeAndCreator(0x50726566 /* 'Pref' */, 0x6B6C6D72 /* 'klmr' */);
    single.set(toolbox::applesingle::kResourceFork, std::vector<UInt8>(bytes.begin(), bytes.end()));
    const std::vector<UInt8> singleBytes = toolbox::applesingle::serialize(single);
    const auto forked = fuzzsupport::ScratchDir() / "Prefs";
    fuzzsupport::WriteFile(forked, singleBytes.data(), singleBytes.size());
    ref = toolbox::rsrc::openResourceFile(forked.string(), Fork::resource, fsRdWrPerm);
    if (ref == kResFileNotOpened) {
        return 0;
    }
    WalkCurrentFile();
    bool added = false;
    if (Get1Resource(kAddedType, 1) == nullptr) {
        Handle h = NewHandle(4);
        std::memcpy(*h, "fuzz", 4);
        Str255 name = {4, 'f', 'u', 'z', 'z'};
        AddResource(h, kAddedType, 1, name);
        if (ResError() == noErr) {
            UpdateResFile(ref);
            added = ResError() == noErr;
        } else {
            DisposeHandle(h);
        }
    }
    CloseResFile(ref);
    if (!added || !parsed) {
        return 0;
    }
    ref = toolbox::rsrc::openResourceFile(forked.string(), Fork::resource, fsRdPerm);
    if (ref == kResFileNotOpened) {
        fuzzsupport::Broken("a resource file saved without error cannot be opened again");
    }
    for (const auto& r : map.resources) {
        if (!SameAsOnDisk(r)) {
            fuzzsupport::Broken("saving a resource file lost or changed a resource");
        }
    }
    toolbox::rsrc::Resource fresh{kAddedType, 1, std::string("fuzz"), 0, {'f', 'u', 'z', 'z'}};
    if (!SameAsOnDisk(fresh)) {
        fuzzsupport::Broken("the added resource did not survive saving");
    }
    CloseResFile(ref);
    return 0;
}
