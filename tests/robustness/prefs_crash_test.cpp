// The preferences file under crashes: a process saving configurations in a loop is killed
// with SIGKILL at random moments, and after every kill the file must read back as one
// whole configuration that was saved (the old one or the new one), never a torn one, never
// none at all.
#include "RobustSupport.h"

#include "PlugInCore.h"
#include "prefsloader.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <unistd.h>

namespace {

using robust::Numbered;
using robust::WhichNumbered;

// A child that saves Numbered(first), Numbered(first + 1), ... until it is killed, and
// writes one byte to `done` after each save it finished.
struct Saver {
    pid_t pid = -1;
    int done = -1; // read end
};

Saver StartSaver(int first) {
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        for (int k = first;; k = (k % 60000) + 1) {
            const pluginDataRec c = Numbered(k);
            SaveConfig(&c);
            const char one = 's';
            (void)!write(fds[1], &one, 1);
        }
    }
    close(fds[1]);
    return {pid, fds[0]};
}

TEST(PrefsCrashSafety, SaverKilledAtRandomMomentsLeavesAWholeSavedConfiguration) {
    robust::PrefsHome home;
    EnsurePrefsFile();
    const pluginDataRec initial = Numbered(1);
    ASSERT_TRUE(SaveConfig(&initial));

    // A save is flushed to the disk and takes what the disk takes. Each kill waits for
    // 0, 1 or 2 finished saves, then for a random part of a save's time, so that the kills
    // land in every step of a save, the first one included.
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(SaveConfig(&initial));
    }
    const long saveMicros = long(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
            .count() /
        5);
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<long> delayMicros(0, saveMicros + saveMicros / 2);
    constexpr int kKills = 300;
    std::set<int> seen;
    int previous = 1;
    int advanced = 0;
    for (int round = 0; round < kKills; ++round) {
        const int first = 1 + (round * 211) % 59000;
        const Saver saver = StartSaver(first);
        ASSERT_GT(saver.pid, 0);
        for (int finished = 0; finished < round % 3; ++finished) {
            char one = 0;
            ASSERT_EQ(read(saver.done, &one, 1), 1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(rng)));
        kill(saver.pid, SIGKILL);
        int status = 0;
        waitpid(saver.pid, &status, 0);
        close(saver.done);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

        pluginDataRec back{};
        ResetConfig(&back, true);
        ASSERT_TRUE(ReadConfig(&back)) << "no readable configuration after kill " << round;
        const int k = WhichNumbered(back);
        ASSERT_NE(k, -1) << "a torn configuration after kill " << round;
        if (k != previous) {
            ++advanced;
        }
        previous = k;
        seen.insert(k);
    }
    // The kills really hit a saver at work, and after saves of its own.
    EXPECT_GE(advanced, kKills / 2);
    RecordProperty("kills", kKills);
    RecordProperty("saveMicros", int(saveMicros));
    RecordProperty("killsAfterASave", advanced);

    // A save killed between making its temporary file and renaming it leaves that file
    // behind (nobody is left to remove it); count them for the record.
    int temporaries = 0;
    for (const auto& e : std::filesystem::directory_iterator(home.dir())) {
        temporaries += e.path().filename().string().rfind(".vemto-Prefs.", 0) == 0;
    }
    RecordProperty("temporariesLeftByKills", temporaries);
    std::printf("%d kills, %d after a finished save, %d temporaries left, save %ld us\n", kKills,
                advanced, temporaries, saveMicros);

    // Whatever a killed save left behind in the folder does not stop the next one, and the
    // next one clears away the temporaries of the savers that were killed.
    const pluginDataRec last = Numbered(60001 % 60000);
    EXPECT_TRUE(SaveConfig(&last));
    int remaining = 0;
    for (const auto& e : std::filesystem::directory_iterator(home.dir())) {
        remaining += e.path().filename().string().rfind(".vemto-Prefs.", 0) == 0;
    }
    EXPECT_EQ(remaining, 0);
    pluginDataRec back{};
    ResetConfig(&back, true);
    ASSERT_TRUE(ReadConfig(&back));
    EXPECT_EQ(WhichNumbered(back), 60001 % 60000);
}

TEST(PrefsCrashSafety, StartUpKilledAtRandomMomentsKeepsTheSavedConfiguration) {
    // Start-up reads and at once rewrites the file: a host killed during that rewrite must
    // not cost the user the configuration.
    robust::PrefsHome home;
    EnsurePrefsFile();
    const pluginDataRec saved = Numbered(4242);
    ASSERT_TRUE(SaveConfig(&saved));
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> delayMicros(0, 4000);
    for (int round = 0; round < 60; ++round) {
        const pid_t pid = fork();
        if (pid == 0) {
            for (;;) {
                pluginDataRec c{};
                InitMyPlugIn(&c);
            }
        }
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(rng)));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pluginDataRec back{};
        ResetConfig(&back, true);
        ASSERT_TRUE(ReadConfig(&back)) << "round " << round;
        ASSERT_EQ(WhichNumbered(back), 4242) << "round " << round;
    }
}

} // namespace
