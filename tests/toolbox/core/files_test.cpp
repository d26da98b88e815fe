// Tests of FSSpec/FSRef over Linux paths, FindFolder's Preferences folder, Finder Info and
// the atomic file replacement, on real folders.
#include "AppleSingle.h"
#include "CoreFoundation.h"
#include "Folders.h"
#include "ResFixtures.h"
#include "TextUtils.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace restest;

namespace {

std::string dirPath(SInt32 id) {
    return toolbox::files::directoryPath(id);
}

TEST(FindFolder, PreferencesFolderIsXdgConfigHome) {
    TempDir dir;
    ScopedEnv xdg("XDG_CONFIG_HOME", dir.path());
    SInt16 vol = 0;
    SInt32 id = 0;
    ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vol, &id),
              noErr);
    EXPECT_EQ(vol, kToolboxVolumeRefNum);
    EXPECT_EQ(dirPath(id), dir.path());
    SInt32 again = 0;
    FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vol, &again);
    EXPECT_EQ(again, id); // directory IDs are stable
}

TEST(FindFolder, MissingPreferencesFolderIsCreatedPrivate) {
    TempDir dir;
    ScopedEnv xdg("XDG_CONFIG_HOME", dir / "a/b/config");
    SInt16 vol;
    SInt32 id;
    ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vol, &id),
              noErr);
    EXPECT_EQ(dirPath(id), dir / "a/b/config");
    EXPECT_EQ(modeOf(dir / "a/b/config"), 0700u);
    EXPECT_EQ(modeOf(dir / "a"), 0700u);
}

TEST(FindFolder, WithoutAnAbsoluteXdgConfigHomeItIsHomeDotConfig) {
    TempDir home;
    ScopedEnv h("HOME", home.path());
    SInt16 vol;
    SInt32 id;
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
        ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vol, &id),
                  noErr);
        EXPECT_EQ(dirPath(id), home / ".config");
        EXPECT_EQ(modeOf(home / ".config"), 0700u);
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative/config"); // not absolute: ignored
        ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vol, &id),
                  noErr);
        EXPECT_EQ(dirPath(id), home / ".config");
    }
}

TEST(FindFolder, ErrorsForUnknownFoldersAndVolumes) {
    SInt16 vol;
    SInt32 id;
    EXPECT_EQ(FindFolder(kOnSystemDisk, FOUR_CHAR_CODE("zzzz"), kCreateFolder, &vol, &id), fnfErr);
    EXPECT_EQ(FindFolder(7, kPreferencesFolderType, kCreateFolder, &vol, &id), nsvErr);
    EXPECT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, nullptr, &id),
              paramErr);
    TempDir dir;
    WriteAll(dir / "file", "x");
    ScopedEnv xdg("XDG_CONFIG_HOME", dir / "file"); // a file where the folder should be
    EXPECT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &vol, &id), fnfErr);
}

TEST(FSMakeFSSpec, ExistingAndMissingItems) {
    TempDir dir;
    WriteAll(dir / "there", "x");
    SInt32 id = toolbox::files::directoryID(dir.path());
    ASSERT_NE(id, 0);
    FSSpec spec;
    EXPECT_EQ(FSMakeFSSpec(kToolboxVolumeRefNum, id, PStr("there"), &spec), noErr);
    EXPECT_EQ(SInt32(spec.parID), id);
    EXPECT_EQ(fromP(spec.name), "there");
    FSSpec missing{};
    EXPECT_EQ(FSMakeFSSpec(kToolboxVolumeRefNum, id, PStr("vemto-Prefs"), &missing), fnfErr);
    EXPECT_EQ(SInt32(missing.parID), id); // filled in all the same
    EXPECT_EQ(fromP(missing.name), "vemto-Prefs");
    std::string path;
    ASSERT_EQ(toolbox::files::pathFromSpec(missing, path), noErr);
    EXPECT_EQ(path, dir / "vemto-Prefs");
}

TEST(FSMakeFSSpec, ErrorsForBadFoldersNamesAndVolumes) {
    TempDir dir;
    SInt32 id = toolbox::files::directoryID(dir.path());
    FSSpec spec;
    EXPECT_EQ(FSMakeFSSpec(kToolboxVolumeRefNum, 0x7FFFFF00, PStr("x"), &spec), dirNFErr);
    EXPECT_EQ(FSMakeFSSpec(3, id, PStr("x"), &spec), nsvErr);
    EXPECT_EQ(FSMakeFSSpec(kToolboxVolumeRefNum, id, PStr(std::string(64, 'n')), &spec), bdNamErr);
    EXPECT_EQ(FSMakeFSSpec(kToolboxVolumeRefNum, id, PStr("Volume:x"), &spec), bdNamErr);
    EXPECT_EQ(FSMakeFSSpec(kToolboxVolumeRefNum, id, PStr(":nofolder:x"), &spec), dirNFErr);
    EXPECT_EQ(FSMakeFSSpec(kToolboxVolumeRefNum, id, PStr("x"), nullptr), paramErr);
    // A folder that disappears makes its ID unusable, not a different folder.
    std::filesystem::create_directory(dir / "gone");
    SInt32 gone = toolbox::files::directoryID(dir / "gone");
    std::filesystem::remove(dir / "gone");
    EXPECT_EQ(FSMakeFSSpec(kToolboxVolumeRefNum, gone, PStr("x"), &spec), dirNFErr);
}

TEST(FSMakeFSSpec, PartialPathsWalkFolders) {
    TempDir dir;
    std::filesystem::create_directories(dir / "sub/inner");
    WriteAll(dir / "sub/inner/f", "x");
    WriteAll(dir / "top", "x");
    SInt32 id = toolbox::files::directoryID(dir / "sub");
    FSSpec spec;
    ASSERT_EQ(FSMakeFSSpec(0, id, PStr(":inner:f"), &spec), noErr);
    EXPECT_EQ(dirPath(spec.parID), dir / "sub/inner");
    ASSERT_EQ(FSMakeFSSpec(0, id, PStr("::top"), &spec), noErr);
    EXPECT_EQ(dirPath(spec.parID), dir.path());
}

// Names a user can pick: Mac Roman ones, others, long ones, ones with ':'.
class NameRoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(NameRoundTrip, ThroughFSSpecFSRefAndCFURL) {
    TempDir dir;
    const std::string name = GetParam();
    const std::string path = dir / name;
    WriteAll(path, "contents");
    FSSpec spec;
    ASSERT_EQ(toolbox::files::specFromPath(path, spec), noErr);
    EXPECT_LE(spec.name[0], 63);
    std::string back;
    ASSERT_EQ(toolbox::files::pathFromSpec(spec, back), noErr);
    EXPECT_EQ(back, path);
    // Asking for the FSSpec's own name again finds the same file.
    FSSpec again;
    ASSERT_EQ(FSMakeFSSpec(spec.vRefNum, spec.parID, spec.name, &again), noErr);

    FSRef ref;
    ASSERT_EQ(FSpMakeFSRef(&spec, &ref), noErr);
    UInt8 buf[4096];
    ASSERT_EQ(FSRefMakePath(&ref, buf, sizeof buf), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), path);
    FSSpec fromRef;
    ASSERT_EQ(FSGetFSSpecFromFSRef(&ref, &fromRef), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(fromRef.name), fromRef.name[0] + 1u),
              std::string(reinterpret_cast<char*>(spec.name), spec.name[0] + 1u));

    CFURLRef url = CFURLCreateFromFSRef(kCFAllocatorDefault, &ref);
    ASSERT_NE(url, nullptr);
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(url, true, buf, sizeof buf));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), path);
    FSRef ref2;
    ASSERT_TRUE(CFURLGetFSRef(url, &ref2));
    EXPECT_STREQ(ref2.path, ref.path);
    CFStringRef s = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
    if (toolbox::text::isValidUtf8(path)) {
        EXPECT_EQ(toolbox::cf::utf8(s), path);
    } else {
        EXPECT_EQ(s, nullptr); // a string holds text, and these bytes are none
    }
    CFRelease(s);
    CFRelease(url);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameRoundTrip,
    ::testing::Values(
        "vemto-Prefs", "Caf\xC3\xA9 \xE2\x80\xA6 \xE2\x84\xA2.txt",         // é … ™
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE5\x90\x8D.mov", // 日本語の名
        std::string(200, 'L') + ".pdf", "time 12:30", "e\xCC\x81 decomposed", std::string(63, 'x'),
        std::string(64, 'y'), "latin1 caf\xE9"));

TEST(NameRoundTrip, StandInNamesAreDistinctAndStable) {
    TempDir dir;
    const std::string a = std::string(100, 'a') + "1", b = std::string(100, 'a') + "2";
    WriteAll(dir / a, "1");
    WriteAll(dir / b, "2");
    FSSpec sa, sb, sa2;
    ASSERT_EQ(toolbox::files::specFromPath(dir / a, sa), noErr);
    ASSERT_EQ(toolbox::files::specFromPath(dir / b, sb), noErr);
    ASSERT_EQ(toolbox::files::specFromPath(dir / a, sa2), noErr);
    EXPECT_NE(fromP(sa.name), fromP(sb.name));
    EXPECT_EQ(fromP(sa.name), fromP(sa2.name));
}

TEST(FinderInfo, SetOnAppleSingleKeepsTheForks) {
    TempDir dir;
    toolbox::applesingle::File file;
    file.set(toolbox::applesingle::kResourceFork, bytesOf("fork"));
    auto bytes = toolbox::applesingle::serialize(file);
    WriteAll(dir / "f", textOf(bytes));
    FSSpec spec;
    ASSERT_EQ(toolbox::files::specFromPath(dir / "f", spec), noErr);
    FInfo info{};
    ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
    EXPECT_EQ(info.fdType, 0u);
    info.fdType = FOUR_CHAR_CODE("Pref");
    info.fdCreator = FOUR_CHAR_CODE("klmr");
    info.fdFlags = 0x0100;
    ASSERT_EQ(FSpSetFInfo(&spec, &info), noErr);
    FInfo back{};
    ASSERT_EQ(FSpGetFInfo(&spec, &back), noErr);
    EXPECT_EQ(back.fdType, info.fdType);
    EXPECT_EQ(back.fdCreator, info.fdCreator);
    EXPECT_EQ(back.fdFlags, info.fdFlags);
    toolbox::applesingle::File reread;
    ASSERT_EQ(toolbox::applesingle::parse(bytesOf(Slurp(dir / "f")), reread), noErr);
    EXPECT_EQ(textOf(reread.find(toolbox::applesingle::kResourceFork)->bytes), "fork");
}

TEST(FinderInfo, PlainFilesReadZeroAndAreNotConverted) {
    TempDir dir;
    WriteAll(dir / "plain", "just data");
    std::filesystem::create_directory(dir / "folder");
    FSSpec spec;
    ASSERT_EQ(toolbox::files::specFromPath(dir / "plain", spec), noErr);
    FInfo info{};
    ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
    EXPECT_EQ(info.fdType, 0u);
    info.fdType = FOUR_CHAR_CODE("TEXT");
    EXPECT_EQ(FSpSetFInfo(&spec, &info), wrPermErr);
    EXPECT_EQ(Slurp(dir / "plain"), "just data");
    ASSERT_EQ(toolbox::files::specFromPath(dir / "folder", spec), noErr);
    EXPECT_EQ(FSpGetFInfo(&spec, &info), notAFileErr);
}

TEST(AtomicReplace, KeepsTheModeAndRefusesToOverwriteWhenAskedTo) {
    TempDir dir;
    WriteAll(dir / "f", "old");
    ::chmod((dir / "f").c_str(), 0640);
    ASSERT_EQ(toolbox::files::replaceFileAtomically(dir / "f", "new", 3), noErr);
    EXPECT_EQ(Slurp(dir / "f"), "new");
    EXPECT_EQ(modeOf(dir / "f"), 0640u);
    EXPECT_EQ(toolbox::files::replaceFileAtomically(dir / "f", "x", 1, 0600, true), dupFNErr);
    EXPECT_EQ(Slurp(dir / "f"), "new");
    ASSERT_EQ(toolbox::files::replaceFileAtomically(dir / "g", "x", 1, 0600, true), noErr);
    EXPECT_EQ(modeOf(dir / "g"), 0600u);
    std::filesystem::create_directory(dir / "d");
    EXPECT_EQ(toolbox::files::replaceFileAtomically(dir / "d", "x", 1), notAFileErr);
    EXPECT_EQ(toolbox::files::replaceFileAtomically(dir / "no/such/f", "x", 1), fnfErr);
}

// A document's reader can refuse a link at the name in the open itself, so that a link put
// there after a check is not read through; plain reads still follow links.
TEST(ReadWholeFile, RefusesALinkOnlyWhenAsked) {
    TempDir dir;
    WriteAll(dir / "target", "secret");
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
    std::string got;
    EXPECT_EQ(toolbox::files::readWholeFile(dir / "link", got, false), permErr);
    EXPECT_TRUE(got.empty());
    ASSERT_EQ(toolbox::files::readWholeFile(dir / "link", got), noErr);
    EXPECT_EQ(got, "secret");
    EXPECT_EQ(toolbox::files::readWholeFile(dir / "target", got, false), noErr);
}

TEST(AtomicReplace, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    WriteAll(dir / "f", "old contents");
    std::string big(1 << 20, 'n');
    struct rlimit old, small;
    ::getrlimit(RLIMIT_FSIZE, &old);
    small = old;
    small.rlim_cur = 1024;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    OSErr e = toolbox::files::replaceFileAtomically(dir / "f", big.data(), big.size());
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(e, dskFulErr);
    EXPECT_EQ(Slurp(dir / "f"), "old contents");
    std::size_t n = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir.path()))
        ++n;
    EXPECT_EQ(n, 1u);
}

TEST(AtomicReplace, ASaveClearsTheTemporariesOfKilledSaversOnly) {
    TempDir dir;
    WriteAll(dir / "f", "old");
    // A saver that has ended (its process reaped) and one that is alive (this test's parent
    // chain: process 1 always exists), plus names that only look alike.
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string dead = ".f." + std::to_string(gone) + "-a1b2c3";
    const std::string alive = ".f.1-a1b2c3";
    const std::string others[] = {".f.notapid-a1b2c3", ".g." + std::to_string(gone) + "-a1b2c3",
                                  ".f." + std::to_string(gone) + "-short",
                                  ".f." + std::to_string(gone), "f.bak"};
    WriteAll(dir / dead, "torn");
    WriteAll(dir / alive, "in progress");
    for (const auto& o : others)
        WriteAll(dir / o, "x");
    ASSERT_EQ(toolbox::files::replaceFileAtomically(dir / "f", "new", 3), noErr);
    EXPECT_EQ(Slurp(dir / "f"), "new");
    EXPECT_FALSE(std::filesystem::exists(dir / dead));
    EXPECT_TRUE(std::filesystem::exists(dir / alive));
    for (const auto& o : others)
        EXPECT_TRUE(std::filesystem::exists(dir / o)) << o;
}

TEST(FSRef, PathsMustExistAndFit) {
    TempDir dir;
    FSRef ref;
    Boolean isDir = false;
    EXPECT_EQ(
        FSPathMakeRef(reinterpret_cast<const UInt8*>((dir / "nothing").c_str()), &ref, &isDir),
        fnfErr);
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(dir.path().c_str()), &ref, &isDir),
              noErr);
    EXPECT_TRUE(isDir);
    UInt8 small[8];
    EXPECT_EQ(FSRefMakePath(&ref, small, sizeof small), paramErr);
}

} // namespace
