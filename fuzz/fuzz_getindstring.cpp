// fuzz_getindstring - GetIndString on arbitrary resource files and arbitrary string lists.
//
// The first input byte picks the form: even, the rest is a whole resource file (as a
// damaged bundle would hold); odd, the rest is the contents of 'STR#' 128, put into a
// sound file so that every input reaches the list decoder. Every list in the file is asked
// for indices around its stated count. A text handed back must be a run of bytes of the
// list itself: GetIndString may give an empty string, never made-up or stale text.
#include "FuzzSupport.h"

#include "MacMemory.h"
#include "Resources.h"
#include "TextUtils.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

using toolbox::rsrc::Fork;
using toolbox::rsrc::ResourceMap;

namespace {

constexpr ResType kStrList = 0x53545223; // 'STR#'

bool Contains(const std::vector<UInt8>& hay, const UInt8* needle, size_t n) {
    if (n == 0) {
        return true;
    }
    return std::search(hay.begin(), hay.end(), needle, needle + n) != hay.end();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::span<const UInt8> rest(data + 1, size - 1);
    std::vector<UInt8> file;
    if ((data[0] & 1) == 0) {
        file.assign(rest.begin(), rest.end());
    } else {
        ResourceMap map;
        map.resources.push_back(
            {kStrList, 128, std::string("fuzz"), 0, {rest.begin(), rest.end()}});
        if (map.serialize(file) != noErr) {
            return 0;
        }
    }
    ResourceMap map;
    if (ResourceMap::parse(file, map) != noErr) {
        map.resources.clear(); // the Manager must refuse it too; still ask below
    }

    const auto path = fuzzsupport::ScratchDir() / "Strings.rsrc";
    fuzzsupport::WriteFile(path, file.data(), file.size());
    const ResFileRefNum ref = toolbox::rsrc::openResourceFile(path.string(), Fork::data, fsRdPerm);

    std::vector<SInt16> ids = {128, 129, 130, 17000, -1};
    for (const auto& r : map.resources) {
        if (r.type == kStrList) {
            ids.push_back(r.id);
        }
    }
    for (SInt16 id : ids) {
        const auto* list = map.find(kStrList, id);
        SInt32 stated = 0;
        if (list != nullptr && list->data.size() >= 2) {
            stated = (SInt32(list->data[0]) << 8) | list->data[1];
        }
        const SInt32 last = std::min<SInt32>(stated + 2, 600);
        for (SInt32 index = -1; index <= last; ++index) {
            Str255 text;
            std::memset(text, 0xEE, sizeof text); // stale bytes must not come back
            GetIndString(text, id, SInt16(index));
            if (text[0] == 0) {
                continue;
            }
            if (ref == kResFileNotOpened || list == nullptr) {
                fuzzsupport::Broken("GetIndString found a text where no list is");
            }
            if (index < 1 || index > stated) {
                fuzzsupport::Broken("GetIndString gave a text for an index the list lacks");
            }
            if (!Contains(list->data, text, size_t(text[0]) + 1)) {
                fuzzsupport::Broken("GetIndString gave a text that is not in the list");
            }
        }
    }
    if (ref != kResFileNotOpened) {
        CloseResFile(ref);
    }
    return 0;
}
