// The saved configuration: the preferences file's format read back byte by byte
// (AppleSingle container, resource fork, record fields at their offsets), its lifecycle at
// start-up, and its defence against damaged or foreign records.
#include "DataHandling.h"
#include "Files.h"
#include "MacMemory.h"
#include "PlugInCore.h"
#include "Resources.h"
#include "TestSupport.h"
#include "callpixelfx.h"
#include "commonprocs.h"
#include "prefsloader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <vector>

namespace {

using tessera_test::TempConfigHome;
using Bytes = std::vector<std::uint8_t>;

// ---- an independent reader of the file -------------------------------------------------

UInt32 BE32(const Bytes& b, size_t at) {
    return UInt32(b.at(at)) << 24 | UInt32(b.at(at + 1)) << 16 | UInt32(b.at(at + 2)) << 8 |
           UInt32(b.at(at + 3));
}
UInt16 BE16(const Bytes& b, size_t at) {
    return UInt16(b.at(at) << 8 | b.at(at + 1));
}

struct StoredResource {
    UInt32 type;
    SInt16 id;
    std::optional<std::string> name;
    Bytes data;
};

struct PrefsFile {
    UInt32 fileType = 0, creator = 0;
    std::vector<StoredResource> resources;
};

Bytes ReadBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// AppleSingle: magic, version, 16 filler bytes, entry count, then (id, offset, length).
// The resource fork: header (data offset, map offset, data length, map length); the map
// holds the type list and the name list at offsets from its start.
PrefsFile ParsePrefsFile(const Bytes& file) {
    PrefsFile out;
    EXPECT_EQ(BE32(file, 0), 0x00051600u);
    EXPECT_EQ(BE32(file, 4), 0x00020000u);
    const UInt16 entries = BE16(file, 24);
    Bytes fork;
    for (UInt16 i = 0; i < entries; ++i) {
        const size_t d = 26 + 12 * size_t(i);
        const UInt32 id = BE32(file, d), offset = BE32(file, d + 4), length = BE32(file, d + 8);
        if (id == 9) { // Finder info
            out.fileType = BE32(file, offset);
            out.creator = BE32(file, offset + 4);
        } else if (id == 2) {
            fork.assign(file.begin() + offset, file.begin() + offset + length);
        }
    }
    if (fork.empty()) {
        return out;
    }
    const UInt32 dataOffset = BE32(fork, 0), mapOffset = BE32(fork, 4);
    const size_t typeList = mapOffset + BE16(fork, mapOffset + 24);
    const size_t nameList = mapOffset + BE16(fork, mapOffset + 26);
    const int typeCount = SInt16(BE16(fork, typeList)) + 1;
    for (int t = 0; t < typeCount; ++t) {
        const size_t entry = typeList + 2 + 8 * size_t(t);
        const UInt32 type = BE32(fork, entry);
        const int count = SInt16(BE16(fork, entry + 4)) + 1;
        const size_t refs = typeList + BE16(fork, entry + 6);
        for (int r = 0; r < count; ++r) {
            const size_t ref = refs + 12 * size_t(r);
            StoredResource res;
            res.type = type;
            res.id = SInt16(BE16(fork, ref));
            const SInt16 nameOffset = SInt16(BE16(fork, ref + 2));
            if (nameOffset != -1) {
                const size_t n = nameList + size_t(nameOffset);
                res.name = std::string(fork.begin() + n + 1, fork.begin() + n + 1 + fork.at(n));
            }
            const size_t data = dataOffset + (BE32(fork, ref + 4) & 0x00FFFFFF);
            const UInt32 length = BE32(fork, data);
            res.data.assign(fork.begin() + data + 4, fork.begin() + data + 4 + length);
            out.resources.push_back(res);
        }
    }
    return out;
}

// The record size of this build: 394 bytes in a big-endian (PowerPC) build, 396 in the x86
// ones.
constexpr size_t kRecordSize = std::endian::native == std::endian::big ? 394 : 396;

template <typename T> T At(const Bytes& record, size_t offset) {
    T v;
    std::memcpy(&v, record.data() + offset, sizeof v); // native byte order, as written
    return v;
}

// The one 'Pref' 1 record of the file (a failure when there is not exactly one).
Bytes StoredRecord(const TempConfigHome& home) {
    const PrefsFile f = ParsePrefsFile(ReadBytes(home.prefsFile()));
    std::vector<const StoredResource*> prefs;
    for (const auto& r : f.resources) {
        if (r.type == FOUR_CHAR_CODE("Pref") && r.id == 1) {
            prefs.push_back(&r);
        }
    }
    EXPECT_EQ(prefs.size(), 1u);
    return prefs.empty() ? Bytes{} : prefs[0]->data;
}

pluginDataRec* NewRecord() {
    UInt32 size = 0;
    pGetConfigSize(size);
    return reinterpret_cast<pluginDataRec*>(NewPtrClear(Size(size)));
}

struct Record {
    pluginDataRec* p = NewRecord();
    ~Record() { DisposePtr(reinterpret_cast<Ptr>(p)); }
    pluginDataRec* operator->() const { return p; }
};

// Replaces resource 'Pref' 1 of the preferences file by the given bytes, through the
// toolbox's Resource Manager, as a damaged or foreign writer would have left it.
void StoreRawRecord(const TempConfigHome& home, const Bytes& bytes) {
    FSSpec spec;
    ASSERT_EQ(toolbox::files::specFromPath(home.prefsFile().string(), spec), noErr);
    const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdWrPerm);
    ASSERT_NE(ref, kResFileNotOpened);
    UseResFile(ref);
    if (Handle old = Get1Resource(FOUR_CHAR_CODE("Pref"), 1)) {
        RemoveResource(old);
        DisposeHandle(old);
    }
    Handle h = NewHandle(Size(bytes.size()));
    std::memcpy(*h, bytes.data(), bytes.size());
    Str255 name;
    CStr2Str255("Config Settings", name);
    AddResource(h, FOUR_CHAR_CODE("Pref"), 1, name);
    ASSERT_EQ(ResError(), noErr);
    CloseResFile(ref);
}

Bytes RecordOf(const pluginDataRec* config) {
    Handle h = NewHandleClear(cConfigSaveSize);
    EXPECT_TRUE(Config2Save(config, h));
    Bytes out(*h, *h + cConfigSaveSize);
    DisposeHandle(h);
    return out;
}

// Stores `rec` as the saved record: reading it must fail and leave the defaults.
void ExpectRejected(const TempConfigHome& home, const Bytes& rec) {
    StoreRawRecord(home, rec);
    Record r;
    ResetConfig(r.p, true);
    EXPECT_FALSE(ReadConfig(r.p));
    EXPECT_EQ(r->sliders[0], 10);
}

// ---- tests ---------------------------------------------------------------------------

TEST(PrefsFile, FirstRunCreatesTheFileAndStoresTheDefaults) {
    TempConfigHome home;
    Record r;
    InitMyPlugIn(r.p);

    struct stat st {};
    ASSERT_EQ(stat(home.prefsFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const PrefsFile f = ParsePrefsFile(ReadBytes(home.prefsFile()));
    EXPECT_EQ(f.fileType, FOUR_CHAR_CODE("Pref"));
    EXPECT_EQ(f.creator, FOUR_CHAR_CODE("klmr"));
    ASSERT_EQ(f.resources.size(), 1u);
    EXPECT_EQ(f.resources[0].type, FOUR_CHAR_CODE("Pref"));
    EXPECT_EQ(f.resources[0].id, 1);
    EXPECT_EQ(f.resources[0].name, "Config Settings");

    const Bytes rec = f.resources[0].data;
    ASSERT_EQ(rec.size(), kRecordSize);
    EXPECT_EQ(At<UInt32>(rec, 0), kRecordSize);
    EXPECT_EQ(At<UInt32>(rec, 4), 3u);
    EXPECT_EQ(At<double>(rec, 8), 0.0);  // startRel.left
    EXPECT_EQ(At<double>(rec, 16), 1.0); // startRel.right
    EXPECT_EQ(At<double>(rec, 24), 0.0);
    EXPECT_EQ(At<double>(rec, 32), 1.0);
    EXPECT_EQ(At<double>(rec, 48), 1.0);           // endRel.right
    EXPECT_EQ(At<UInt16>(rec, 72), 65535);         // colour 1 red
    EXPECT_EQ(At<UInt16>(rec, 72 + 6 + 4), 65535); // colour 2 blue
    EXPECT_EQ(At<UInt16>(rec, 72 + 12), 0);        // colour 3 red
    EXPECT_EQ(At<SInt16>(rec, 108), 10);
    EXPECT_EQ(At<SInt16>(rec, 110), 10);
    EXPECT_EQ(At<SInt16>(rec, 112), 0);
    EXPECT_EQ(At<UInt16>(rec, 120), 65535); // frameStartColor red
    EXPECT_EQ(At<UInt16>(rec, 122), 0);
    EXPECT_EQ(At<SInt16>(rec, 132), 1); // mediaType
    EXPECT_EQ(rec[134], 0);             // keepProps
    EXPECT_EQ(rec[135], 0);             // gap
    EXPECT_EQ(At<SInt16>(rec, 136), 1); // blendMode
    const std::string misc = "Config save for kelmar iMovie plug-in";
    ASSERT_EQ(rec[138], misc.size());
    EXPECT_EQ(std::string(rec.begin() + 139, rec.begin() + 139 + long(misc.size())), misc);
    for (size_t i = 139 + misc.size(); i < kRecordSize; ++i) {
        EXPECT_EQ(rec[i], 0) << "byte " << i;
    }
}

TEST(PrefsFile, FieldsAreStoredAtTheirOffsets) {
    TempConfigHome home;
    EnsurePrefsFile();
    Record r;
    ResetConfig(r.p, true);
    r->startRel = relRect{0.1, 0.9, 0.2, 0.8};
    r->endRel = relRect{-0.5, 1.5, 0.25, 0.75};
    for (int i = 0; i < 6; ++i) {
        r->colors[i] = RGBColor{UInt16(1000 + i), UInt16(2000 + i), UInt16(3000 + i)};
        r->sliders[i] = SInt16(-3 + 7 * i);
    }
    r->frameStartColor = RGBColor{11, 12, 13};
    r->frameEndColor = RGBColor{21, 22, 23};
    r->mediaType = 3;
    r->keepProps = true;
    r->blendMode = -2;
    ASSERT_TRUE(SaveConfig(r.p));

    const Bytes rec = StoredRecord(home);
    ASSERT_EQ(rec.size(), kRecordSize);
    EXPECT_EQ(At<double>(rec, 8), 0.1);
    EXPECT_EQ(At<double>(rec, 16), 0.9);
    EXPECT_EQ(At<double>(rec, 24), 0.2);
    EXPECT_EQ(At<double>(rec, 32), 0.8);
    EXPECT_EQ(At<double>(rec, 40), -0.5);
    EXPECT_EQ(At<double>(rec, 64), 0.75);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(At<UInt16>(rec, 72 + 6 * i), 1000 + i);
        EXPECT_EQ(At<UInt16>(rec, 74 + 6 * i), 2000 + i);
        EXPECT_EQ(At<UInt16>(rec, 76 + 6 * i), 3000 + i);
        EXPECT_EQ(At<SInt16>(rec, 108 + 2 * i), -3 + 7 * i);
    }
    EXPECT_EQ(At<UInt16>(rec, 120), 11);
    EXPECT_EQ(At<UInt16>(rec, 124), 13);
    EXPECT_EQ(At<UInt16>(rec, 126), 21);
    EXPECT_EQ(At<UInt16>(rec, 130), 23);
    EXPECT_EQ(At<SInt16>(rec, 132), 3);
    EXPECT_EQ(rec[134], 1);
    EXPECT_EQ(rec[135], 0);
    EXPECT_EQ(At<SInt16>(rec, 136), -2);
    if (kRecordSize == 396) { // the x86 record ends with two zero bytes
        EXPECT_EQ(rec[394], 0);
        EXPECT_EQ(rec[395], 0);
    }
}

TEST(PrefsFile, SavingTwiceLeavesExactlyOneRecord) {
    TempConfigHome home;
    EnsurePrefsFile();
    Record r;
    ResetConfig(r.p, true);
    ASSERT_TRUE(SaveConfig(r.p));
    r->sliders[0] = 42;
    ASSERT_TRUE(SaveConfig(r.p));
    const Bytes rec = StoredRecord(home);
    ASSERT_EQ(rec.size(), kRecordSize);
    EXPECT_EQ(At<SInt16>(rec, 108), 42);
}

TEST(PrefsFile, ReadBackRestoresTheSavedFieldsOnly) {
    TempConfigHome home;
    EnsurePrefsFile();
    Record saved;
    ResetConfig(saved.p, true);
    saved->startRel = relRect{0.3, 0.6, 0.1, 0.4};
    saved->sliders[2] = 55;
    saved->colors[5] = RGBColor{7, 8, 9};
    saved->mediaType = 2;
    saved->keepProps = true;
    saved->blendMode = 4;
    ASSERT_TRUE(SaveConfig(saved.p));

    Record live;
    ResetConfig(live.p, true);
    live->sync = true;
    live->outside = false;
    live->clipActive = true;
    auto* const marker = reinterpret_cast<CGImageRef>(0x1234);
    live->theOriginalImage = marker;
    live->theRendered = marker;
    ASSERT_TRUE(ReadConfig(live.p));
    EXPECT_EQ(live->startRel.left, 0.3);
    EXPECT_EQ(live->startRel.bottom, 0.4);
    EXPECT_EQ(live->sliders[2], 55);
    EXPECT_EQ(live->colors[5].green, 8);
    EXPECT_EQ(live->mediaType, 2);
    EXPECT_TRUE(live->keepProps);
    EXPECT_EQ(live->blendMode, 4);
    EXPECT_TRUE(live->sync);
    EXPECT_FALSE(live->outside);
    EXPECT_TRUE(live->clipActive);
    EXPECT_EQ(live->theOriginalImage, marker);
    EXPECT_EQ(live->theRendered, marker);
}

TEST(PrefsFile, StartUpReadsTheLastConfigurationAndWritesItBack) {
    TempConfigHome home;
    EnsurePrefsFile();
    {
        Record r;
        ResetConfig(r.p, true);
        r->sliders[0] = 33;
        ASSERT_TRUE(SaveConfig(r.p));
    }
    Record next;
    InitMyPlugIn(next.p);
    EXPECT_EQ(next->sliders[0], 33);
    EXPECT_EQ(At<SInt16>(StoredRecord(home), 108), 33);
}

TEST(PrefsFile, NoFileMeansNoSaveAndNoRead) {
    TempConfigHome home;
    Record r;
    ResetConfig(r.p, true);
    EXPECT_FALSE(SaveConfig(r.p));
    EXPECT_FALSE(ReadConfig(r.p));
    EXPECT_FALSE(std::filesystem::exists(home.prefsFile())); // never created by a save
    EXPECT_FALSE(SaveConfig(nullptr));
    EXPECT_FALSE(ReadConfig(nullptr));
}

TEST(PrefsFile, AnEmptyFileHasNoConfiguration) {
    TempConfigHome home;
    EnsurePrefsFile();
    ASSERT_TRUE(std::filesystem::exists(home.prefsFile()));
    EXPECT_TRUE(ParsePrefsFile(ReadBytes(home.prefsFile())).resources.empty());
    Record r;
    ResetConfig(r.p, true);
    r->sliders[0] = 77;
    EXPECT_FALSE(ReadConfig(r.p));
    EXPECT_EQ(r->sliders[0], 77);

    // A second EnsurePrefsFile leaves an existing file alone.
    ASSERT_TRUE(SaveConfig(r.p));
    EnsurePrefsFile();
    EXPECT_EQ(At<SInt16>(StoredRecord(home), 108), 77);
}

TEST(PrefsFile, ARecordOfVersion2IsIgnoredAndReplacedAtStartUp) {
    TempConfigHome home;
    EnsurePrefsFile();
    Record old;
    ResetConfig(old.p, true);
    old->sliders[0] = 99;
    Bytes rec = RecordOf(old.p);
    const UInt32 two = 2;
    std::memcpy(rec.data() + 4, &two, 4);
    StoreRawRecord(home, rec);

    Record r;
    InitMyPlugIn(r.p);
    EXPECT_EQ(r->sliders[0], 10); // the defaults stayed
    const Bytes now = StoredRecord(home);
    EXPECT_EQ(At<UInt32>(now, 4), 3u);
    EXPECT_EQ(At<SInt16>(now, 108), 10);
}

TEST(PrefsFile, TheOtherByteOrdersRecordIsRejected) {
    TempConfigHome home;
    EnsurePrefsFile();
    // The other build's record: its size, and the size word and version byte-swapped.
    const UInt32 otherSize = kRecordSize == 396 ? 394 : 396;
    Bytes rec(otherSize, 0);
    const UInt32 head[2] = {__builtin_bswap32(otherSize), __builtin_bswap32(3)};
    std::memcpy(rec.data(), head, 8);
    ExpectRejected(home, rec);
}

TEST(PrefsFile, ARecordShorterThanItSaysIsRejected) {
    TempConfigHome home;
    EnsurePrefsFile();
    Record src;
    ResetConfig(src.p, true);
    src->sliders[0] = 123;
    Bytes rec = RecordOf(src.p);
    rec.resize(120); // size word and version still say 396 and 3
    ExpectRejected(home, rec);
}

TEST(PrefsFile, DamagedValuesStillRenderSafely) {
    TempConfigHome home;
    EnsurePrefsFile();
    Record src;
    ResetConfig(src.p, true);
    Bytes rec = RecordOf(src.p);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double values[4] = {nan, inf, -inf, 1e308};
    std::memcpy(rec.data() + 8, values, sizeof values);
    const SInt16 sliders[3] = {32767, -32768, 32767};
    std::memcpy(rec.data() + 108, sliders, sizeof sliders);
    rec[134] = 0xFF; // a boolean byte that is neither 0 nor 1
    StoreRawRecord(home, rec);

    Record r;
    ResetConfig(r.p, true);
    ASSERT_TRUE(ReadConfig(r.p));
    EXPECT_TRUE(std::isnan(r->startRel.left));
    EXPECT_EQ(r->keepProps, 1);

    tessera_test::Frame source(64, 48), dest(64, 48);
    source.fill([](int x, int y) {
        tessera_test::ARGB p = tessera_test::Pattern(x, y);
        p.a = 255;
        return p;
    });
    dest.copyFrom(source);
    DoPixelEffect(source.get(), dest.get(), r.p, 0, 1); // must neither crash nor hang
    // The region (left NaN -> 0, right +inf -> 32767, top -inf, bottom huge) covers the
    // frame; the opacity of 32767 percent lays the source over everything.
    for (int y = 0; y < 48; y += 7) {
        for (int x = 0; x < 64; x += 5) {
            EXPECT_EQ(dest.at(x, y), source.at(x, y));
        }
    }
}

TEST(PrefsFile, TheCurrentResourceFileIsPutBack) {
    TempConfigHome home;
    EnsurePrefsFile();
    toolbox::rsrc::ResourceMap map;
    std::vector<UInt8> bytes;
    ASSERT_EQ(map.serialize(bytes), noErr);
    const std::string other = (home.dir() / "other.rsrc").string();
    std::ofstream(other, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    const ResFileRefNum first =
        toolbox::rsrc::openResourceFile(other, toolbox::rsrc::Fork::data, fsRdPerm);
    ASSERT_NE(first, kResFileNotOpened);
    const std::string second = (home.dir() / "second.rsrc").string();
    std::ofstream(second, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    const ResFileRefNum top =
        toolbox::rsrc::openResourceFile(second, toolbox::rsrc::Fork::data, fsRdPerm);
    ASSERT_NE(top, kResFileNotOpened);
    UseResFile(first); // the host's choice: not the newest file

    Record r;
    ResetConfig(r.p, true);
    EXPECT_TRUE(SaveConfig(r.p));
    EXPECT_EQ(CurResFile(), first);
    EXPECT_TRUE(ReadConfig(r.p));
    EXPECT_EQ(CurResFile(), first);
    CloseResFile(top);
    CloseResFile(first);
}

TEST(PrefsRecord, ConversionsRefuseNilArguments) {
    Record r;
    Handle h = NewHandleClear(cConfigSaveSize);
    EXPECT_FALSE(Config2Save(nullptr, h));
    EXPECT_FALSE(Config2Save(r.p, nullptr));
    EXPECT_FALSE(Save2Config(nullptr, h));
    EXPECT_FALSE(Save2Config(r.p, nullptr));
    Handle small = NewHandleClear(100);
    EXPECT_FALSE(Config2Save(r.p, small)); // would write past the handle
    DisposeHandle(small);
    DisposeHandle(h);
}

TEST(PrefsRecord, RoundTripThroughTheRecordKeepsEverySavedField) {
    Record a;
    ResetConfig(a.p, true);
    a->startRel = relRect{0.125, 0.5, 0.25, 0.75};
    a->sliders[5] = -7;
    a->colors[3] = RGBColor{1, 2, 3};
    a->frameEndColor = RGBColor{4, 5, 6};
    Handle h = NewHandleClear(cConfigSaveSize);
    ASSERT_TRUE(Config2Save(a.p, h));
    Record b;
    ASSERT_TRUE(Save2Config(b.p, h));
    EXPECT_EQ(b->startRel.left, 0.125);
    EXPECT_EQ(b->sliders[5], -7);
    EXPECT_EQ(b->colors[3].blue, 3);
    EXPECT_EQ(b->frameEndColor.red, 4);
    EXPECT_EQ(b->blendMode, 1);
    DisposeHandle(h);
}

} // namespace
