// variant_test.cpp - what must hold in every build the plug-in ships as (x86-64, 32-bit
// x86 and big-endian 32-bit PowerPC), checked on the build's own processor: the records
// the host allocates, a clip rendered through the exported `main`, the saved record of
// this build's byte order and the version line.
//
// The variant script runs these programs of several builds one after another with one
// shared folder in TESSERA_VARIANT_EXCHANGE: each build leaves its rendered clip and its
// preferences file there, and compares them with what the builds before it left.
// TESSERA_VARIANT_EXPECT names the builds whose files must be there already. Without the
// folder, the comparisons are skipped and the rest runs as a test of this build alone.
#include "DataHandling.h"
#include "Files.h"
#include "HYPlugin.h"
#include "MacMemory.h"
#include "PlugInCore.h"
#include "Resources.h"
#include "TestSupport.h"
#include "commonprocs.h"
#include "framesource.h"
#include "recordingsession.h"
#include "iMovieGlue.h"
#include "prefsloader.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tessera_test::TempConfigHome;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

constexpr bool kBigEndian = std::endian::native == std::endian::big;

// The name under which this build's files are exchanged.
#if defined(__powerpc__)
constexpr const char* kVariant = "ppc";
#elif defined(__i386__)
constexpr const char* kVariant = "i386";
#elif defined(__x86_64__)
constexpr const char* kVariant = "x86_64";
#else
constexpr const char* kVariant = "other";
#endif

bool IsBigEndianVariant(const std::string& name) { return name == "ppc"; }

// The plug-in's executable, opened as a host opens it, and its exported entry. The plug-in
// starts once per process, with the preferences of that moment and its master record from
// that host: a test that loads it needs a process of its own (ctest runs each test alone).
bool FirstLoadInProcess() {
    static int loads = 0;
    return ++loads == 1;
}

HYPluginMainProc LoadPlugin() {
    void* handle = dlopen(TESSERA_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        ADD_FAILURE() << "cannot load " << TESSERA_PLUGIN_FILE << ": " << dlerror();
        return nullptr;
    }
    auto entry = reinterpret_cast<HYPluginMainProc>(dlsym(handle, "main"));
    EXPECT_NE(entry, nullptr) << "the plug-in exports no main";
    return entry;
}

const char* ExchangeDir() {
    const char* dir = std::getenv("TESSERA_VARIANT_EXCHANGE");
    return dir != nullptr && *dir != '\0' ? dir : nullptr;
}

// The other builds' files "<prefix><variant>" in the exchange folder, by variant; a failure
// for each build named in TESSERA_VARIANT_EXPECT that left none.
std::map<std::string, fs::path> OtherBuildsFiles(const std::string& prefix) {
    std::map<std::string, fs::path> found;
    for (const auto& entry : fs::directory_iterator(ExchangeDir())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && name.substr(prefix.size()) != kVariant) {
            found[name.substr(prefix.size())] = entry.path();
        }
    }
    std::istringstream expected(std::getenv("TESSERA_VARIANT_EXPECT") ? std::getenv("TESSERA_VARIANT_EXPECT") : "");
    for (std::string variant; expected >> variant;) {
        EXPECT_TRUE(variant == kVariant || found.count(variant))
            << "the " << variant << " build left no " << prefix << variant;
    }
    return found;
}

Bytes ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& p, const Bytes& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << p;
}

// The bytes of resource 'Pref' 1 of the preferences file, through the Resource Manager.
Bytes StoredRecord(const TempConfigHome& home) {
    FSSpec spec;
    EXPECT_EQ(toolbox::files::specFromPath(home.prefsFile().string(), spec), noErr);
    const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdPerm);
    EXPECT_NE(ref, kResFileNotOpened);
    if (ref == kResFileNotOpened) {
        return {};
    }
    UseResFile(ref);
    Bytes out;
    if (Handle h = Get1Resource(cPrefsType, cPrefsResID)) {
        out.assign(*h, *h + GetHandleSize(h));
        ReleaseResource(h);
    }
    CloseResFile(ref);
    return out;
}

struct Record {
    pluginDataRec* p = reinterpret_cast<pluginDataRec*>(NewPtrClear(sizeof(pluginDataRec)));
    Record() { ResetConfig(p, true); }
    ~Record() { DisposePtr(reinterpret_cast<Ptr>(p)); }
    pluginDataRec* operator->() const { return p; }
};

// The configuration every build saves and renders with, so that their files can be
// compared: an off-centre region, blocks of unequal width and height, a partial opacity.
void FillSharedConfiguration(pluginDataRec* r) {
    r->startRel = relRect{0.1, 0.85, 0.2, 0.9};
    r->endRel = relRect{0.25, 0.5, 0.125, 0.75};
    r->sliders[0] = 37;
    r->sliders[1] = 52;
    r->sliders[2] = 30;
    r->sliders[5] = -7;
    r->colors[3] = RGBColor{0x1234, 0x5678, 0x9ABC};
    r->frameEndColor = RGBColor{1, 2, 65535};
    r->mediaType = 3;
    r->keepProps = true;
    r->blendMode = 258;
}

void ExpectSharedConfiguration(const pluginDataRec* r) {
    EXPECT_EQ(r->startRel.left, 0.1);
    EXPECT_EQ(r->startRel.right, 0.85);
    EXPECT_EQ(r->startRel.top, 0.2);
    EXPECT_EQ(r->startRel.bottom, 0.9);
    EXPECT_EQ(r->endRel.bottom, 0.75);
    EXPECT_EQ(r->sliders[0], 37);
    EXPECT_EQ(r->sliders[1], 52);
    EXPECT_EQ(r->sliders[2], 30);
    EXPECT_EQ(r->sliders[5], -7);
    EXPECT_EQ(r->colors[3].green, 0x5678);
    EXPECT_EQ(r->frameEndColor.blue, 65535);
    EXPECT_EQ(r->mediaType, 3);
    EXPECT_TRUE(r->keepProps);
    EXPECT_EQ(r->blendMode, 258);
}

void ExpectDefaultConfiguration(const pluginDataRec* r) {
    EXPECT_EQ(r->startRel.left, 0.0);
    EXPECT_EQ(r->startRel.right, 1.0);
    EXPECT_EQ(r->sliders[0], 10);
    EXPECT_EQ(r->sliders[2], 0);
    EXPECT_EQ(r->mediaType, 1);
    EXPECT_EQ(r->blendMode, 1);
}

// ---- the records the host allocates ----------------------------------------------------

TEST(VariantRecords, TheHostAllocatesTheRecordsAtTheirDocumentedSizes) {
    if (!FirstLoadInProcess()) {
        GTEST_SKIP() << "needs the plug-in's first start: run it alone (ctest does)";
    }
    TempConfigHome home;
    fxhost::GeneratedFrameSource source(64, 48, 4);
    HYPluginMainProc entry = LoadPlugin();
    ASSERT_NE(entry, nullptr);
    fxhost::RecordingSession host(entry, source);
    ASSERT_EQ(host.begin(0, 4), kPluginOK);
    ASSERT_EQ(host.end(), kPluginOK);
    // The master record at the first call, then the per-clip record and its configuration.
    const std::vector<SInt32> expected = sizeof(void*) == 4
                                             ? std::vector<SInt32>{144, 36, 144}
                                             : std::vector<SInt32>{SInt32(sizeof(pluginDataRec)),
                                                                   SInt32(sizeof(EffectData)),
                                                                   SInt32(sizeof(pluginDataRec))};
    EXPECT_EQ(host.log().allocationSizes, expected);
    if (sizeof(void*) == 4) {
        EXPECT_EQ(sizeof(_PluginParams), 1940u);
    }
}

// ---- a clip through main ----------------------------------------------------------------

TEST(VariantRender, AClipThroughMainIsTheSameOnEveryBuild) {
    if (!FirstLoadInProcess()) {
        GTEST_SKIP() << "needs the plug-in's first start: run it alone (ctest does)";
    }
    TempConfigHome home;
    {
        Record config;
        FillSharedConfiguration(config.p);
        EnsurePrefsFile();
        ASSERT_TRUE(SaveConfig(config.p));
    }
    constexpr int kWidth = 161, kHeight = 97, kFrames = 7;
    fxhost::GeneratedFrameSource source(kWidth, kHeight, kFrames + 3);
    HYPluginMainProc entry = LoadPlugin();
    ASSERT_NE(entry, nullptr);
    fxhost::RecordingSession host(entry, source);
    host.settings().fadeInFrames = 2;
    host.settings().fadeOutFrames = 2;
    ASSERT_EQ(host.begin(3, kFrames), kPluginOK);

    Bytes clip;
    bool mosaicSeen = false;
    for (int f = 0; f < kFrames; ++f) {
        ASSERT_EQ(host.frame(f), kPluginOK) << "frame " << f;
        Bytes frame(std::size_t(kWidth) * kHeight * 4);
        host.copyDestination(frame.data(), kWidth * 4);
        // Outside the region (0.1 .. 0.85 across, 0.2 .. 0.9 down) the frame is the source.
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const fxhost::GeneratedPixel s = fxhost::GeneratedPattern(x, y, 3 + f, kWidth, kHeight);
                const std::uint8_t* d = &frame[(std::size_t(y) * kWidth + x) * 4];
                const bool inside = x >= 16 && x < 136 && y >= 19 && y < 87;
                const bool same = d[1] == s.r && d[2] == s.g && d[3] == s.b;
                if (!inside) {
                    ASSERT_TRUE(same) << "frame " << f << " changed outside the region at " << x
                                      << ", " << y;
                } else if (!same) {
                    mosaicSeen = true;
                }
            }
        }
        clip.insert(clip.end(), frame.begin(), frame.end());
    }
    EXPECT_TRUE(mosaicSeen);
    ASSERT_EQ(host.end(), kPluginOK);

    if (ExchangeDir() == nullptr) {
        return;
    }
    for (const auto& [variant, path] : OtherBuildsFiles("render-")) {
        EXPECT_TRUE(ReadFile(path) == clip)
            << "the clip rendered by the " << variant << " build differs from this one's";
    }
    WriteFile(fs::path(ExchangeDir()) / (std::string("render-") + kVariant), clip);
}

// ---- the saved configuration ------------------------------------------------------------

TEST(VariantPrefs, TheRecordIsThisBuildsAndReadsBack) {
    TempConfigHome home;
    EnsurePrefsFile();
    {
        Record config;
        FillSharedConfiguration(config.p);
        ASSERT_TRUE(SaveConfig(config.p));
    }
    const Bytes stored = StoredRecord(home);
    const std::size_t size = kBigEndian ? 394 : 396;
    ASSERT_EQ(stored.size(), size);
    // The size word and the version in this processor's byte order.
    const std::uint8_t head[8] = {0, 0, 0x01, std::uint8_t(size & 0xFF), 0, 0, 0, 3};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(stored[i], head[kBigEndian ? i : (i / 4) * 4 + 3 - i % 4]) << "byte " << i;
    }
    double left;
    std::memcpy(&left, &stored[8], 8);
    EXPECT_EQ(left, 0.1);
    SInt16 blockWidth;
    std::memcpy(&blockWidth, &stored[108], 2);
    EXPECT_EQ(blockWidth, 37);
    for (std::size_t i = 138 + 1 + std::strlen(cConfigMiscString); i < size; ++i) {
        ASSERT_EQ(stored[i], 0) << "byte " << i;
    }

    Record back;
    ASSERT_TRUE(ReadConfig(back.p));
    ExpectSharedConfiguration(back.p);

    if (ExchangeDir() != nullptr) {
        fs::copy_file(home.prefsFile(), fs::path(ExchangeDir()) / (std::string("prefs-") + kVariant),
                      fs::copy_options::overwrite_existing);
    }
}

TEST(VariantPrefs, AnotherBuildsFileIsReadOnlyInTheSameByteOrder) {
    if (ExchangeDir() == nullptr) {
        GTEST_SKIP() << "no exchange folder: the variant script runs this";
    }
    for (const auto& [variant, path] : OtherBuildsFiles("prefs-")) {
        SCOPED_TRACE("the file of the " + variant + " build");
        TempConfigHome home;
        fs::copy_file(path, home.prefsFile());
        Record r;
        if (IsBigEndianVariant(variant) == kBigEndian) {
            // x86-64 and i386 write the same bytes: each reads the other's.
            EXPECT_TRUE(ReadConfig(r.p));
            ExpectSharedConfiguration(r.p);
        } else {
            // The other byte order's record is refused; the defaults stay, and the start-up
            // replaces it with this build's record.
            EXPECT_FALSE(ReadConfig(r.p));
            ExpectDefaultConfiguration(r.p);
            Record started;
            std::memset(started.p, 0, sizeof(pluginDataRec));
            InitMyPlugIn(started.p);
            ExpectDefaultConfiguration(started.p);
            EXPECT_EQ(StoredRecord(home).size(), kBigEndian ? 394u : 396u);
        }
    }
}

// ---- the build's identity ----------------------------------------------------------------

TEST(VariantIdentity, TheVersionLineNamesThisBuildsProcessor) {
    EXPECT_STREQ(AboutVersionLine(), kBigEndian ? "Version 3.0.0 (PPC Universal)"
                                                : "Version 3.0.0 (i386 Universal)");
}

} // namespace
