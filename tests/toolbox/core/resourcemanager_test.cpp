// Tests of the Resource Manager on real files in a temporary folder: creating, adding,
// saving and reading back resources, the chain of open files, handles, and what happens to
// files that cannot be used (none of which may be damaged).
#include "AppleSingle.h"
#include "MacMemory.h"
#include "ResFixtures.h"
#include "TextUtils.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using toolbox::rsrc::Fork;
using toolbox::rsrc::ResourceMap;
using namespace restest;

namespace {

const ResType kPref = FOUR_CHAR_CODE("Pref");
const ResType kStrList = FOUR_CHAR_CODE("STR#");

class ResourceManager : public ::testing::Test {
  protected:
    TempDir dir;

    FSSpec specFor(const std::string& leaf) {
        FSSpec spec;
        OSErr e = toolbox::files::specFromPath(dir / leaf, spec);
        EXPECT_TRUE(e == noErr || e == fnfErr) << e;
        return spec;
    }

    Handle handleWith(const std::string& bytes) {
        Handle h = NewHandle(Size(bytes.size()));
        std::memcpy(*h, bytes.data(), bytes.size());
        return h;
    }

    // The resource map inside an AppleSingle file on disk.
    ResourceMap mapOnDisk(const std::string& leaf) {
        std::string bytes = Slurp(dir / leaf);
        toolbox::applesingle::File file;
        EXPECT_EQ(toolbox::applesingle::parse(bytesOf(bytes), file), noErr);
        ResourceMap map;
        const auto* fork = file.find(toolbox::applesingle::kResourceFork);
        EXPECT_NE(fork, nullptr);
        if (fork) {
            EXPECT_EQ(ResourceMap::parse(fork->bytes, map), noErr);
        }
        return map;
    }

    // The save sequence of the preferences file: remove the old record, add the new one.
    void saveRecord(const FSSpec& spec, const std::string& record) {
        ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
        UseResFile(ref);
        ASSERT_EQ(ResError(), noErr);
        if (Handle old = Get1Resource(kPref, 1)) {
            RemoveResource(old);
            DisposeHandle(old);
            UpdateResFile(ref);
        }
        AddResource(handleWith(record), kPref, 1, PStr("Config Settings"));
        ASSERT_EQ(ResError(), noErr);
        Handle h = Get1Resource(kPref, 1);
        UpdateResFile(ref);
        EXPECT_EQ(ResError(), noErr);
        ReleaseResource(h);
        CloseResFile(ref);
    }
};

TEST_F(ResourceManager, CreatedFileIsAPrivateAppleSingleFileWithTypeAndCreator) {
    FSSpec spec = specFor("vemto-Prefs");
    FSpCreateResFile(&spec, FOUR_CHAR_CODE("klmr"), kPref, smSystemScript);
    ASSERT_EQ(ResError(), noErr);
    EXPECT_EQ(modeOf(dir / "vemto-Prefs"), 0600u);
    std::string bytes = Slurp(dir / "vemto-Prefs");
    toolbox::applesingle::File file;
    ASSERT_EQ(toolbox::applesingle::parse(bytesOf(bytes), file), noErr);
    EXPECT_EQ(file.fileType(), kPref);
    EXPECT_EQ(file.creator(), FOUR_CHAR_CODE("klmr"));
    FInfo info;
    ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
    EXPECT_EQ(info.fdType, kPref);
    EXPECT_EQ(info.fdCreator, FOUR_CHAR_CODE("klmr"));
    EXPECT_TRUE(mapOnDisk("vemto-Prefs").resources.empty());

    ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    ASSERT_NE(ref, kResFileNotOpened);
    EXPECT_EQ(CurResFile(), ref);
    EXPECT_EQ(Count1Resources(kPref), 0);
    EXPECT_EQ(Get1Resource(kPref, 1), nullptr);
    EXPECT_EQ(ResError(), resNotFound);
    CloseResFile(ref);
}

TEST_F(ResourceManager, CreatingOverAnExistingFileChangesNothing) {
    WriteAll(dir / "taken", "user's own data");
    FSSpec spec = specFor("taken");
    FSpCreateResFile(&spec, FOUR_CHAR_CODE("klmr"), kPref, smSystemScript);
    EXPECT_EQ(ResError(), dupFNErr);
    EXPECT_EQ(Slurp(dir / "taken"), "user's own data");
}

TEST_F(ResourceManager, AddedResourceIsReadBackAfterReopening) {
    FSSpec spec = specFor("prefs");
    FSpCreateResFile(&spec, FOUR_CHAR_CODE("klmr"), kPref, smSystemScript);
    ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    Handle h = handleWith(std::string(396, '\x2A'));
    AddResource(h, kPref, 1, PStr("Config Settings"));
    ASSERT_EQ(ResError(), noErr);
    EXPECT_EQ(HomeResFile(h), ref);
    EXPECT_TRUE(GetResAttrs(h) & resChanged);
    UpdateResFile(ref);
    ASSERT_EQ(ResError(), noErr);
    EXPECT_FALSE(GetResAttrs(h) & resChanged);
    CloseResFile(ref); // disposes of h

    ref = FSpOpenResFile(&spec, fsRdPerm);
    ASSERT_NE(ref, kResFileNotOpened);
    Handle back = Get1Resource(kPref, 1);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(GetHandleSize(back), 396);
    EXPECT_EQ(std::string(*back, 396), std::string(396, '\x2A'));
    ResID id;
    ResType type;
    Str255 name;
    GetResInfo(back, &id, &type, name);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(type, kPref);
    EXPECT_EQ(fromP(name), "Config Settings");
    EXPECT_EQ(Get1Resource(kPref, 1), back); // loaded once
    CloseResFile(ref);
    // The save kept the file's type, creator and mode.
    FInfo info;
    ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
    EXPECT_EQ(info.fdCreator, FOUR_CHAR_CODE("klmr"));
    EXPECT_EQ(modeOf(dir / "prefs"), 0600u);
}

TEST_F(ResourceManager, SavingTwiceLeavesExactlyOneResource) {
    FSSpec spec = specFor("prefs");
    FSpCreateResFile(&spec, FOUR_CHAR_CODE("klmr"), kPref, smSystemScript);
    saveRecord(spec, "first");
    saveRecord(spec, "second");
    ResourceMap map = mapOnDisk("prefs");
    ASSERT_EQ(map.resources.size(), 1u);
    EXPECT_EQ(textOf(map.resources[0].data), "second");
    EXPECT_EQ(map.resources[0].name, std::optional<std::string>("Config Settings"));
}

TEST_F(ResourceManager, DetachedHandleOutlivesTheFile) {
    FSSpec spec = specFor("prefs");
    FSpCreateResFile(&spec, 0, 0, smSystemScript);
    saveRecord(spec, "record");
    ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    Handle h = Get1Resource(kPref, 1);
    ASSERT_NE(h, nullptr);
    DetachResource(h);
    EXPECT_EQ(HomeResFile(h), kResFileNotOpened);
    CloseResFile(ref);
    EXPECT_EQ(std::string(*h, std::size_t(GetHandleSize(h))), "record");
    DisposeHandle(h);
}

TEST_F(ResourceManager, ReleasedChangeIsStillSaved) {
    FSSpec spec = specFor("prefs");
    FSpCreateResFile(&spec, 0, 0, smSystemScript);
    saveRecord(spec, "old!");
    ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    Handle h = Get1Resource(kPref, 1);
    std::memcpy(*h, "new!", 4);
    ChangedResource(h);
    ReleaseResource(h);
    CloseResFile(ref);
    EXPECT_EQ(textOf(mapOnDisk("prefs").resources.at(0).data), "new!");
}

TEST_F(ResourceManager, AddingADuplicateOrAResourceHandleFails) {
    FSSpec spec = specFor("prefs");
    FSpCreateResFile(&spec, 0, 0, smSystemScript);
    ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    Handle a = handleWith("a");
    AddResource(a, kPref, 1, nullptr);
    ASSERT_EQ(ResError(), noErr);
    AddResource(a, kPref, 2, nullptr);
    EXPECT_EQ(ResError(), addResFailed);
    Handle b = handleWith("b");
    AddResource(b, kPref, 1, nullptr);
    EXPECT_EQ(ResError(), addResFailed);
    AddResource(nullptr, kPref, 3, nullptr);
    EXPECT_EQ(ResError(), addResFailed);
    DisposeHandle(b);
    CloseResFile(ref);
    EXPECT_EQ(mapOnDisk("prefs").resources.size(), 1u);
}

TEST_F(ResourceManager, OpeningAnOpenFileAgainGivesTheSameRefNum) {
    FSSpec spec = specFor("prefs");
    FSpCreateResFile(&spec, 0, 0, smSystemScript);
    ResFileRefNum a = FSpOpenResFile(&spec, fsCurPerm);
    saveRecord(spec, "x"); // opens and closes the same file in between
    EXPECT_EQ(ResError(), noErr);
    a = FSpOpenResFile(&spec, fsCurPerm);
    ResFileRefNum b = FSpOpenResFile(&spec, fsCurPerm);
    EXPECT_EQ(a, b);
    CloseResFile(a);
    CloseResFile(b);
    EXPECT_EQ(ResError(), resFNotFound); // one close closes it
}

TEST_F(ResourceManager, ChainIsSearchedFromTheCurrentFileDown) {
    ResourceMap older, newer;
    older.resources.push_back(makeResource(kStrList, 128, strList({"older"})));
    older.resources.push_back(makeResource(kStrList, 300, strList({"only older"})));
    newer.resources.push_back(makeResource(kStrList, 128, strList({"newer"})));
    newer.resources.push_back(makeResource(kStrList, 200, strList({"only newer"})));
    writeResourceFile(dir / "older.rsrc", older);
    writeResourceFile(dir / "newer.rsrc", newer);
    ResFileRefNum a = toolbox::rsrc::openResourceFile(dir / "older.rsrc", Fork::data, fsRdPerm);
    ResFileRefNum b = toolbox::rsrc::openResourceFile(dir / "newer.rsrc", Fork::data, fsRdPerm);
    ASSERT_NE(a, kResFileNotOpened);
    ASSERT_NE(b, kResFileNotOpened);
    Str255 s;
    EXPECT_EQ(CurResFile(), b);
    GetIndString(s, 128, 1);
    EXPECT_EQ(fromP(s), "newer");
    GetIndString(s, 300, 1);
    EXPECT_EQ(fromP(s), "only older");               // found further down the chain
    EXPECT_EQ(Get1Resource(kStrList, 300), nullptr); // but not in the current file alone

    UseResFile(a);
    GetIndString(s, 128, 1);
    EXPECT_EQ(fromP(s), "older");
    GetIndString(s, 200, 1);
    EXPECT_EQ(fromP(s), ""); // newer files are above the current one

    UseResFile(b);
    CloseResFile(b);
    EXPECT_EQ(CurResFile(), a); // the next file in the chain becomes current
    CloseResFile(a);
    EXPECT_EQ(CurResFile(), 0);
    UseResFile(a);
    EXPECT_EQ(ResError(), resFNotFound);
}

TEST_F(ResourceManager, IndexedAccessAndAttributes) {
    ResourceMap m;
    m.resources.push_back(makeResource(kStrList, 5, "a"));
    m.resources.push_back(makeResource(kPref, 9, "b", "named"));
    m.resources.push_back(makeResource(kStrList, 6, "c"));
    m.resources[1].attributes = resProtected;
    writeResourceFile(dir / "f.rsrc", m);
    ResFileRefNum ref = toolbox::rsrc::openResourceFile(dir / "f.rsrc", Fork::data, fsCurPerm);
    ASSERT_NE(ref, kResFileNotOpened);
    EXPECT_EQ(Count1Types(), 2);
    EXPECT_EQ(Count1Resources(kStrList), 2);
    ResType t = 0;
    Get1IndType(&t, 2);
    EXPECT_EQ(t, kPref);
    Handle second = Get1IndResource(kStrList, 2);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(**second, 'c');
    Handle named = Get1NamedResource(kPref, PStr("named"));
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(GetResAttrs(named), resProtected);
    RemoveResource(named); // protected resources stay
    EXPECT_EQ(ResError(), rmvResFailed);
    CloseResFile(ref);
}

TEST_F(ResourceManager, AFileThatIsNotAppleSingleIsRefusedAndKept) {
    WriteAll(dir / "vemto-Prefs", "plain text, not a resource file");
    FSSpec spec = specFor("vemto-Prefs");
    EXPECT_EQ(FSpOpenResFile(&spec, fsCurPerm), kResFileNotOpened);
    EXPECT_EQ(ResError(), eofErr);
    EXPECT_EQ(Slurp(dir / "vemto-Prefs"), "plain text, not a resource file");
}

TEST_F(ResourceManager, DamagedResourceForkIsRefused) {
    toolbox::applesingle::File file;
    file.set(toolbox::applesingle::kResourceFork, bytesOf(std::string(40, '\xEE')));
    auto bytes = toolbox::applesingle::serialize(file);
    WriteAll(dir / "damaged", textOf(bytes));
    FSSpec spec = specFor("damaged");
    EXPECT_EQ(FSpOpenResFile(&spec, fsCurPerm), kResFileNotOpened);
    EXPECT_EQ(ResError(), mapReadErr);
    EXPECT_EQ(Slurp(dir / "damaged"), textOf(bytes));
}

TEST_F(ResourceManager, FoldersAndMissingFilesGiveClearErrors) {
    std::filesystem::create_directory(dir / "folder");
    FSSpec spec = specFor("folder");
    EXPECT_EQ(FSpOpenResFile(&spec, fsCurPerm), kResFileNotOpened);
    EXPECT_EQ(ResError(), notAFileErr);
    spec = specFor("missing");
    EXPECT_EQ(FSpOpenResFile(&spec, fsCurPerm), kResFileNotOpened);
    EXPECT_EQ(ResError(), fnfErr);
    FSpCreateResFile(&spec, 0, 0, smSystemScript);
    spec.parID = 0x7FFFFFF0; // no such directory
    FSpCreateResFile(&spec, 0, 0, smSystemScript);
    EXPECT_EQ(ResError(), dirNFErr);
}

TEST_F(ResourceManager, ReadOnlyFileOpensReadOnlyAndIsNeverWritten) {
    FSSpec spec = specFor("prefs");
    FSpCreateResFile(&spec, 0, 0, smSystemScript);
    saveRecord(spec, "kept");
    ::chmod((dir / "prefs").c_str(), 0400);
    const std::string before = Slurp(dir / "prefs");
    EXPECT_EQ(FSpOpenResFile(&spec, fsRdWrPerm), kResFileNotOpened);
    EXPECT_EQ(ResError(), permErr);

    // The whole save sequence runs; the map changes in memory only.
    ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    ASSERT_NE(ref, kResFileNotOpened);
    EXPECT_TRUE(GetResFileAttrs(ref) & mapReadOnly);
    Handle old = Get1Resource(kPref, 1);
    ASSERT_NE(old, nullptr);
    RemoveResource(old);
    EXPECT_EQ(ResError(), noErr);
    DisposeHandle(old); // the caller's now: CloseResFile must not dispose of it again
    UpdateResFile(ref);
    EXPECT_EQ(ResError(), wrPermErr);
    Handle h = handleWith("new");
    AddResource(h, kPref, 1, PStr("Config Settings"));
    EXPECT_EQ(ResError(), noErr);
    UpdateResFile(ref);
    EXPECT_EQ(ResError(), wrPermErr);
    ReleaseResource(h);
    CloseResFile(ref);
    EXPECT_EQ(Slurp(dir / "prefs"), before);
}

TEST_F(ResourceManager, ResourceHandlesCarryTheResourceBit) {
    FSSpec spec = specFor("prefs");
    FSpCreateResFile(&spec, 0, 0, smSystemScript);
    ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    Handle h = handleWith("data");
    EXPECT_FALSE(HGetState(h) & kHandleIsResourceMask);
    AddResource(h, kPref, 1, nullptr);
    EXPECT_TRUE(HGetState(h) & kHandleIsResourceMask);
    DetachResource(h);
    EXPECT_FALSE(HGetState(h) & kHandleIsResourceMask);
    DisposeHandle(h);
    CloseResFile(ref);
}

TEST_F(ResourceManager, UnreadableFileGivesPermErr) {
    FSSpec spec = specFor("prefs");
    FSpCreateResFile(&spec, 0, 0, smSystemScript);
    ::chmod((dir / "prefs").c_str(), 0000);
    if (::geteuid() != 0) {
        EXPECT_EQ(FSpOpenResFile(&spec, fsCurPerm), kResFileNotOpened);
        EXPECT_EQ(ResError(), permErr);
        return;
    }
    // The superuser reads every file: try as an ordinary user in a child process.
    ::chmod(dir.path().c_str(), 0755);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
        ::_exit(ref == kResFileNotOpened && ResError() == permErr ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "no ordinary user to run as";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the open did not fail with permErr";
}

TEST_F(ResourceManager, SymlinksAreNeitherReadNorWrittenThrough) {
    std::filesystem::create_directory(dir / "elsewhere");
    FSSpec target = specFor("elsewhere/prefs");
    FSpCreateResFile(&target, FOUR_CHAR_CODE("klmr"), kPref, smSystemScript);
    saveRecord(target, "kept elsewhere");
    const std::string before = Slurp(dir / "elsewhere/prefs");
    std::filesystem::create_symlink(dir / "elsewhere/prefs", dir / "link");
    FSSpec link = specFor("link");
    EXPECT_EQ(FSpOpenResFile(&link, fsCurPerm), kResFileNotOpened);
    EXPECT_EQ(ResError(), permErr);
    FInfo info{};
    EXPECT_EQ(FSpSetFInfo(&link, &info), permErr);
    FSpCreateResFile(&link, 0, 0, smSystemScript);
    EXPECT_EQ(ResError(), dupFNErr);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
    EXPECT_EQ(Slurp(dir / "elsewhere/prefs"), before);

    // A dangling link: the file is missing, and creating it makes nothing at the far end.
    std::filesystem::create_symlink(dir / "elsewhere/new", dir / "dangling");
    FSSpec dangling;
    EXPECT_EQ(toolbox::files::specFromPath(dir / "dangling", dangling), fnfErr);
    FSpCreateResFile(&dangling, 0, 0, smSystemScript);
    EXPECT_EQ(ResError(), dupFNErr);
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere/new"));
}

TEST_F(ResourceManager, FailedSaveLeavesTheOldFileWhole) {
    FSSpec spec = specFor("prefs");
    FSpCreateResFile(&spec, 0, 0, smSystemScript);
    saveRecord(spec, "old record");
    const std::string before = Slurp(dir / "prefs");

    ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    AddResource(handleWith(std::string(64 * 1024, 'z')), kPref, 2, nullptr);
    // Make the disk "full" for this process: writes past 4 KiB fail.
    struct rlimit old, small{4096, RLIM_INFINITY};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    small.rlim_max = old.rlim_max;
    ::setrlimit(RLIMIT_FSIZE, &small);
    UpdateResFile(ref);
    OSErr err = ResError();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(err, dskFulErr);
    EXPECT_EQ(Slurp(dir / "prefs"), before);
    std::size_t files = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 1u); // no temporary file left behind

    // The change is still pending and is saved once the disk has room.
    CloseResFile(ref);
    EXPECT_EQ(ResError(), noErr);
    EXPECT_EQ(mapOnDisk("prefs").resources.size(), 2u);
}

TEST_F(ResourceManager, BundleResourceFileIsAPlainResourceFile) {
    ResourceMap m;
    m.resources.push_back(makeResource(kStrList, 130, strList({"Region\xC9"})));
    writeResourceFile(dir / "Tessera.rsrc", m);
    ResFileRefNum ref = toolbox::rsrc::openResourceFile(dir / "Tessera.rsrc", Fork::data, fsRdPerm);
    ASSERT_NE(ref, kResFileNotOpened);
    Str255 s;
    GetIndString(s, 130, 1);
    EXPECT_EQ(fromP(s), "Region\xC9");
    CloseResFile(ref);
    // The same file is no resource fork: FSpOpenResFile wants an AppleSingle file.
    FSSpec spec = specFor("Tessera.rsrc");
    EXPECT_EQ(FSpOpenResFile(&spec, fsRdPerm), kResFileNotOpened);
    EXPECT_EQ(ResError(), eofErr);
}

} // namespace

namespace {

// A process killed at any moment of a save leaves the old or the new file, never a torn one.
TEST_F(ResourceManager, KilledMidSaveLeavesACompleteFile) {
    FSSpec spec = specFor("prefs");
    FSpCreateResFile(&spec, FOUR_CHAR_CODE("klmr"), kPref, smSystemScript);
    saveRecord(spec, std::string(256 * 1024, 'A'));
    for (int round = 0; round < 12; ++round) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) { // save records of one repeated letter, for ever
                ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
                UseResFile(ref);
                Handle h = Get1Resource(kPref, 1);
                if (!h)
                    ::_exit(3);
                std::memset(*h, 'A' + (i % 26), std::size_t(GetHandleSize(h)));
                ChangedResource(h);
                CloseResFile(ref);
            }
        }
        ::usleep(useconds_t(3000 + round * 1700));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving process stopped by itself";
        ResourceMap map = mapOnDisk("prefs");
        ASSERT_EQ(map.resources.size(), 1u) << "round " << round;
        const auto& data = map.resources[0].data;
        ASSERT_EQ(data.size(), 256u * 1024u);
        EXPECT_EQ(std::count(data.begin(), data.end(), data[0]), std::ptrdiff_t(data.size()))
            << "a record mixed from two saves in round " << round;
        FInfo info;
        ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
        EXPECT_EQ(info.fdCreator, FOUR_CHAR_CODE("klmr"));
    }
}

} // namespace

namespace {

// A file replaced while an old map of it is still open is read anew, not served from the
// old map (the new file may even reuse the old one's inode).
TEST_F(ResourceManager, AReplacedFileIsNotTakenForTheOpenOne) {
    ResourceMap first, second;
    first.resources.push_back(makeResource(kStrList, 1, strList({"first"})));
    second.resources.push_back(makeResource(kStrList, 1, strList({"second file"})));
    writeResourceFile(dir / "f.rsrc", first);
    ResFileRefNum a = toolbox::rsrc::openResourceFile(dir / "f.rsrc", Fork::data, fsRdPerm);
    ASSERT_NE(a, kResFileNotOpened);
    std::filesystem::remove(dir / "f.rsrc");
    writeResourceFile(dir / "f.rsrc", second);
    ResFileRefNum b = toolbox::rsrc::openResourceFile(dir / "f.rsrc", Fork::data, fsRdPerm);
    ASSERT_NE(b, kResFileNotOpened);
    EXPECT_NE(a, b);
    Str255 s;
    GetIndString(s, 1, 1);
    EXPECT_EQ(fromP(s), "second file");
    CloseResFile(b);
    CloseResFile(a);
}

} // namespace
