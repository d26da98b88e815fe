// RobustSupport.h - fixtures of the robustness tests: a private Preferences folder, running
// a piece of a test in a child process (so that a crash, a hang or a kill stays there and
// is seen as such), and configurations that are recognisable when read back.
#pragma once

#include "DataHandling.h"
#include "PluginDefines.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace robust {

// A private Preferences folder for the life of the object (the plug-in tests' fixture).
using PrefsHome = tessera_test::TempConfigHome;

// A configuration whose every saved field is derived from k, so that a record read back
// names the one save it came from, and a record mixed from two saves shows.
inline pluginDataRec Numbered(int k) {
    pluginDataRec c{};
    ResetConfig(&c, true);
    c.startRel = {k / 10000.0, 0.5 + k / 10000.0, k / 20000.0, 0.75 + k / 20000.0};
    c.endRel = {k / 30000.0, 1.0, 0.0, 1.0 - k / 30000.0};
    for (int i = 0; i < cNumSliders; ++i) {
        c.sliders[i] = SInt16((k + i) % 1000);
    }
    for (int i = 0; i < cNumColors; ++i) {
        c.colors[i] = RGBColor{UInt16(k), UInt16(k + i), UInt16(k * 3)};
    }
    c.frameStartColor = RGBColor{UInt16(k), 0, UInt16(65535 - k)};
    c.frameEndColor = RGBColor{0, UInt16(k), 0};
    c.mediaType = SInt16(1 + k % 3);
    c.keepProps = (k % 2) != 0;
    c.blendMode = SInt16(k % 7);
    return c;
}

// The k that Numbered(k) was made from, or -1 if the saved fields are not all of one k.
inline int WhichNumbered(const pluginDataRec& c) {
    const int k = int(c.frameStartColor.red);
    const pluginDataRec expect = Numbered(k);
    const bool same =
        c.startRel.left == expect.startRel.left && c.startRel.right == expect.startRel.right &&
        c.startRel.top == expect.startRel.top && c.startRel.bottom == expect.startRel.bottom &&
        c.endRel.left == expect.endRel.left && c.endRel.bottom == expect.endRel.bottom &&
        std::equal(c.sliders, c.sliders + cNumSliders, expect.sliders) &&
        std::equal(c.colors, c.colors + cNumColors, expect.colors,
                   [](const RGBColor& a, const RGBColor& b) {
                       return a.red == b.red && a.green == b.green && a.blue == b.blue;
                   }) &&
        c.frameStartColor.blue == expect.frameStartColor.blue &&
        c.frameEndColor.green == expect.frameEndColor.green && c.mediaType == expect.mediaType &&
        c.keepProps == expect.keepProps && c.blendMode == expect.blendMode;
    return same ? k : -1;
}

// Outcome of a child: its exit status, or the signal that ended it, or a timeout.
struct ChildResult {
    bool exited = false;
    int status = -1;
    int signal = 0;
    bool timedOut = false;
};

inline std::ostream& operator<<(std::ostream& os, const ChildResult& r) {
    if (r.timedOut) {
        return os << "timed out";
    }
    return r.exited ? os << "exit " << r.status : os << "signal " << r.signal;
}

// Runs body in a forked child (its return value is the exit status) and waits at most
// `timeout`; a child still running then is killed and reported as timed out.
inline ChildResult RunInChild(const std::function<int()>& body,
                              std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int status = body();
        _exit(status);
    }
    ChildResult r;
    if (pid < 0) {
        ADD_FAILURE() << "fork failed";
        return r;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int wstatus = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &wstatus, WNOHANG);
        if (done == pid) {
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            r.timedOut = true;
            return r;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    r.exited = WIFEXITED(wstatus);
    r.status = r.exited ? WEXITSTATUS(wstatus) : -1;
    r.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    return r;
}

} // namespace robust
