// LaunchServices.cpp - LSOpenFSRef through xdg-open (see LaunchServices.h).
//
// Owns: the children that were still running when LSOpenFSRef returned, until reaped.
#include "LaunchServices.h"

#include "Seam.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::vector<pid_t> gRunning;

// A viewer that xdg-open runs in the foreground may take as long as the user reads; after
// this long a still-running xdg-open counts as started.
constexpr auto kPatience = std::chrono::seconds(3);

void reapFinished() {
    for (auto it = gRunning.begin(); it != gRunning.end();) {
        int status = 0;
        if (::waitpid(*it, &status, WNOHANG) != 0) {
            it = gRunning.erase(it);
        } else {
            ++it;
        }
    }
}

OSStatus statusFromExit(int code) {
    switch (code) {
    case 0:
        return noErr;
    case 2:
        return fnfErr;
    case 3:
        return kLSApplicationNotFoundErr;
    default:
        return kLSLaunchFailedErr;
    }
}

} // namespace

OSStatus LSOpenFSRef(const FSRef* inRef, FSRef* outLaunchedRef) {
    if (inRef == nullptr || outLaunchedRef != nullptr || inRef->path[0] == '\0') {
        return paramErr;
    }
    const std::string path(inRef->path);
    toolbox::ui::seam::logOpenWith(path);
    if (auto scripted = toolbox::ui::seam::takeOpenWithResult()) {
        return *scripted;
    }
    reapFinished();

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attr, &none);
    ::posix_spawnattr_setsigdefault(&attr, &all);
    ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char program[] = "xdg-open";
    std::string arg = path;
    char* argv[] = {program, arg.data(), nullptr};
    pid_t pid = -1;
    const int err = ::posix_spawnp(&pid, "xdg-open", &actions, &attr, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attr);
    if (err != 0) {
        return err == ENOENT || err == EACCES ? kLSApplicationNotFoundErr : kLSLaunchFailedErr;
    }
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (WIFEXITED(status)) {
                // 127: the shell could not run it (posix_spawnp may report a missing
                // program this way).
                return WEXITSTATUS(status) == 127 ? kLSApplicationNotFoundErr
                                                  : statusFromExit(WEXITSTATUS(status));
            }
            return kLSLaunchFailedErr; // killed by a signal
        }
        if (r < 0 && errno != EINTR) {
            return kLSLaunchFailedErr;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            gRunning.push_back(pid);
            return noErr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
