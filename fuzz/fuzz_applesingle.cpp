// fuzz_applesingle - the AppleSingle reader on arbitrary bytes.
//
// Checks, beyond crashes and undefined behaviour: what parse() accepts has at most one
// entry per ID, and serialize() of it reads back equal (rewriting a file loses nothing).
#include "FuzzSupport.h"

#include "AppleSingle.h"

#include <set>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace as = toolbox::applesingle;
    const std::span<const UInt8> bytes(data, size);
    (void)as::looksLikeAppleSingle(bytes);
    as::File file;
    if (as::parse(bytes, file) != noErr) {
        return 0;
    }
    std::set<UInt32> ids;
    for (const auto& e : file.entries) {
        if (!ids.insert(e.id).second) {
            fuzzsupport::Broken("parse() accepted two entries with one ID");
        }
    }
    (void)file.fileType();
    (void)file.creator();
    const std::vector<UInt8> written = as::serialize(file);
    as::File again;
    if (as::parse(written, again) != noErr || !(again == file)) {
        fuzzsupport::Broken("serialize() of a parsed file does not read back equal");
    }
    // Setting type and creator keeps every other entry.
    as::File retyped = file;
    retyped.setTypeAndCreator(0x50726566, 0x6B6C6D72);
    if (retyped.fileType() != 0x50726566 || retyped.creator() != 0x6B6C6D72) {
        fuzzsupport::Broken("setTypeAndCreator did not take");
    }
    for (const auto& e : file.entries) {
        if (e.id != as::kFinderInfo && !(*retyped.find(e.id) == e)) {
            fuzzsupport::Broken("setTypeAndCreator changed another entry");
        }
    }
    return 0;
}
