// Damaged and hostile preferences files: whatever stands at the file's name (garbage, a
// directory, a pipe, a symlink to elsewhere, a file the user cannot read or write, a disk
// that is full), start-up finishes, the plug-in works on the defaults or on what it could
// read, nothing outside the Preferences folder is read into or written, and a saved
// configuration is never destroyed by a save that fails.
#include "RobustSupport.h"

#include "MacMemory.h"
#include "PlugInCore.h"
#include "prefsloader.h"

#include <csignal>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using robust::ChildResult;
using robust::Numbered;
using robust::RunInChild;
using robust::WhichNumbered;

// Exit statuses of the start-up children below.
constexpr int kOnDefaults = 0;
constexpr int kNotDefaults = 3;

bool SameSavedFields(const pluginDataRec& a, const pluginDataRec& b) {
    Handle ha = NewHandleClear(Size(cConfigSaveSize));
    Handle hb = NewHandleClear(Size(cConfigSaveSize));
    Config2Save(&a, ha);
    Config2Save(&b, hb);
    const bool same = std::memcmp(*ha, *hb, cConfigSaveSize) == 0;
    DisposeHandle(ha);
    DisposeHandle(hb);
    return same;
}

// The plug-in's start-up on the master record, then the check that it holds the defaults.
int StartUpOnDefaults() {
    auto* config = reinterpret_cast<pluginDataRec*>(NewPtrClear(sizeof(pluginDataRec)));
    InitMyPlugIn(config);
    pluginDataRec defaults{};
    ResetConfig(&defaults, true);
    const bool ok = SameSavedFields(*config, defaults);
    DisposePtr(Ptr(config));
    return ok ? kOnDefaults : kNotDefaults;
}

using testfs::Slurp;
using testfs::WriteAll;

// Runs body in a child as an ordinary user: root reads and writes whatever it likes, so
// permission cases are only real for another user. The folder is handed to that user.
ChildResult RunAsUser(const fs::path& folder, const std::function<int()>& body) {
    constexpr uid_t kNobody = 65534;
    const bool root = geteuid() == 0;
    if (root) {
        for (const auto& e : fs::recursive_directory_iterator(folder)) {
            (void)lchown(e.path().c_str(), kNobody, kNobody);
        }
        (void)chown(folder.c_str(), kNobody, kNobody);
    }
    return RunInChild([&] {
        if (root && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            return 90;
        }
        return body();
    });
}

TEST(PrefsBadFile, GarbageAtTheNameLeavesDefaultsAndTheBytesAlone) {
    robust::PrefsHome home;
    const std::string garbage = "this is not a resource file\n\x01\x02\x03";
    WriteAll(home.prefsFile(), garbage);
    const ChildResult r = RunInChild(StartUpOnDefaults);
    EXPECT_TRUE(r.exited && r.status == kOnDefaults) << r;
    EXPECT_EQ(Slurp(home.prefsFile()), garbage);
}

TEST(PrefsBadFile, EmptyFileLeavesDefaults) {
    robust::PrefsHome home;
    WriteAll(home.prefsFile(), "");
    const ChildResult r = RunInChild(StartUpOnDefaults);
    EXPECT_TRUE(r.exited && r.status == kOnDefaults) << r;
}

TEST(PrefsBadFile, DirectoryAtTheNameLeavesDefaultsAndIsKept) {
    robust::PrefsHome home;
    fs::create_directory(home.prefsFile());
    WriteAll(home.prefsFile() / "inside", "kept");
    const ChildResult r = RunInChild(StartUpOnDefaults);
    EXPECT_TRUE(r.exited && r.status == kOnDefaults) << r;
    EXPECT_TRUE(fs::is_directory(home.prefsFile()));
    EXPECT_EQ(Slurp(home.prefsFile() / "inside"), "kept");
}

TEST(PrefsBadFile, PipeAtTheNameDoesNotHangStartUp) {
    robust::PrefsHome home;
    ASSERT_EQ(mkfifo(home.prefsFile().c_str(), 0600), 0);
    const ChildResult r = RunInChild(StartUpOnDefaults, std::chrono::seconds(10));
    EXPECT_TRUE(r.exited && r.status == kOnDefaults) << r;
}

TEST(PrefsBadFile, SymlinkToAFileElsewhereIsNeitherReadNorWrittenThrough) {
    robust::PrefsHome home;
    const fs::path outside = home.dir() / "elsewhere";
    fs::create_directory(outside);
    // A sound preferences file elsewhere, and the link to it where ours belongs.
    {
        robust::PrefsHome other;
        EnsurePrefsFile();
        const pluginDataRec c = Numbered(77);
        ASSERT_TRUE(SaveConfig(&c));
        fs::copy_file(other.prefsFile(), outside / "target");
    }
    const std::string before = Slurp(outside / "target");
    fs::create_symlink(outside / "target", home.prefsFile());
    const ChildResult r = RunInChild(StartUpOnDefaults);
    EXPECT_TRUE(r.exited && r.status == kOnDefaults) << r;
    EXPECT_EQ(Slurp(outside / "target"), before);
}

TEST(PrefsBadFile, DanglingSymlinkCreatesNothingElsewhere) {
    robust::PrefsHome home;
    const fs::path outside = home.dir() / "elsewhere";
    fs::create_directory(outside);
    fs::create_symlink(outside / "made-by-plugin", home.prefsFile());
    const ChildResult r = RunInChild(StartUpOnDefaults);
    EXPECT_TRUE(r.exited && r.status == kOnDefaults) << r;
    EXPECT_FALSE(fs::exists(fs::symlink_status(outside / "made-by-plugin")));
}

TEST(PrefsBadFile, UnreadableFileLeavesDefaultsAndIsNotReplaced) {
    robust::PrefsHome home;
    EnsurePrefsFile();
    const pluginDataRec c = Numbered(9);
    ASSERT_TRUE(SaveConfig(&c));
    const std::string before = Slurp(home.prefsFile());
    fs::permissions(home.prefsFile(), fs::perms::none);
    const ChildResult r = RunAsUser(home.dir(), StartUpOnDefaults);
    EXPECT_TRUE(r.exited && r.status == kOnDefaults) << r;
    fs::permissions(home.prefsFile(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Slurp(home.prefsFile()), before);
}

TEST(PrefsBadFile, ReadOnlyFileIsReadButNeverChanged) {
    robust::PrefsHome home;
    EnsurePrefsFile();
    const pluginDataRec c = Numbered(21);
    ASSERT_TRUE(SaveConfig(&c));
    const std::string before = Slurp(home.prefsFile());
    fs::permissions(home.prefsFile(), fs::perms::owner_read);
    const ChildResult r = RunAsUser(home.dir(), [] {
        auto* config = reinterpret_cast<pluginDataRec*>(NewPtrClear(sizeof(pluginDataRec)));
        InitMyPlugIn(config); // reads the saved configuration; its save-back must fail
        if (WhichNumbered(*config) != 21) {
            return 4;
        }
        const pluginDataRec other = Numbered(22);
        return SaveConfig(&other) ? 5 : 0;
    });
    EXPECT_TRUE(r.exited && r.status == 0) << r;
    EXPECT_EQ(Slurp(home.prefsFile()), before);
}

TEST(PrefsBadFile, FullDiskFailsTheSaveAndKeepsTheOldConfiguration) {
    robust::PrefsHome home;
    EnsurePrefsFile();
    const pluginDataRec c = Numbered(31);
    ASSERT_TRUE(SaveConfig(&c));
    const auto size = fs::file_size(home.prefsFile());
    // A file-size limit below the file's size makes every write of it fail as on a full
    // disk (EFBIG instead of ENOSPC; the signal that comes with it is ignored).
    const ChildResult r = RunInChild([size] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(size / 2), rlim_t(size / 2)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 90;
        }
        const pluginDataRec other = Numbered(32);
        if (SaveConfig(&other)) {
            return 6; // reported as saved, yet it cannot be on the disk
        }
        auto* config = reinterpret_cast<pluginDataRec*>(NewPtrClear(sizeof(pluginDataRec)));
        InitMyPlugIn(config); // start-up on a full disk works on what it read
        return WhichNumbered(*config) == 31 ? 0 : 7;
    });
    EXPECT_TRUE(r.exited && r.status == 0) << r;
    pluginDataRec back{};
    ResetConfig(&back, true);
    ASSERT_TRUE(ReadConfig(&back));
    EXPECT_EQ(WhichNumbered(back), 31);
    // A failed save leaves no half-written file behind in the folder.
    int entries = 0;
    for (const auto& e : fs::directory_iterator(home.dir())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(PrefsBadFile, PreferencesFolderThatIsAFileLeavesDefaults) {
    robust::PrefsHome home;
    const fs::path notAFolder = home.dir() / "plain-file";
    WriteAll(notAFolder, "a file where the folder should be");
    setenv("XDG_CONFIG_HOME", notAFolder.c_str(), 1);
    const ChildResult r = RunInChild(StartUpOnDefaults);
    EXPECT_TRUE(r.exited && r.status == kOnDefaults) << r;
    EXPECT_EQ(Slurp(notAFolder), "a file where the folder should be");
}

TEST(PrefsBadFile, NewFileIsPrivateToTheUser) {
    robust::PrefsHome home;
    const mode_t old = umask(0);
    EnsurePrefsFile();
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat(home.prefsFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // And a save keeps it so.
    const pluginDataRec c = Numbered(3);
    umask(0);
    ASSERT_TRUE(SaveConfig(&c));
    umask(old);
    ASSERT_EQ(stat(home.prefsFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

} // namespace
