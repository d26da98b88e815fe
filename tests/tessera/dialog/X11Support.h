// X11Support.h - what the real-window dialog tests share: a shell command's output, the
// first frame of a clip decoded by the ffmpeg program, a generated clip, and waiting for
// fxhost configure to close its dialog. The X server is the one tests/run-under-xvfb.sh
// starts; the mouse and keys are xdotool's.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace x11_test {

// The command's standard output, without its trailing newlines and spaces.
inline std::string Output(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p) != nullptr) {
            out += buf;
        }
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

// The first frame of a clip as RGBA bytes, decoded by the ffmpeg program.
inline std::vector<unsigned char> FirstFrameRGBA(const std::string& clip) {
    std::vector<unsigned char> bytes;
    const std::string cmd =
        "ffmpeg -v error -i " + clip + " -frames:v 1 -f rawvideo -pix_fmt rgba - 2>/dev/null";
    if (FILE* p = popen(cmd.c_str(), "r")) {
        unsigned char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
            bytes.insert(bytes.end(), buf, buf + n);
        }
        pclose(p);
    }
    return bytes;
}

// A 320 x 240 clip of `frames` frames from ffmpeg's test source, lossless. It does not come
// from fxhost: a clip that already went through the default mosaic would not change under it
// again.
inline bool MakeTestClip(const std::string& path, int frames) {
    return std::system(("ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=30 -frames:v " +
                        std::to_string(frames) + " -c:v ffv1 -pix_fmt bgra -y " + path +
                        " >/dev/null 2>&1")
                           .c_str()) == 0;
}

// Waits up to ten seconds for the child to end; kills it if it does not. Its wait status, or
// -1 when it had to be killed.
inline int WaitOrKill(pid_t child) {
    int status = -1;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(child, &status, WNOHANG) == child) {
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -1;
}

} // namespace x11_test
