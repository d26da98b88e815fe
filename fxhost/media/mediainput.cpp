// mediainput.cpp - the input policy and the one way inputs are opened.
#include "mediainput.h"

#include "hosterror.h"

#include <cerrno>
#include <cstring>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace fxhost::media {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> gNetwork{false};
std::atomic<const std::atomic<bool>*> gInterrupted{nullptr};

[[noreturn]] void InputFail(const std::string& text) {
    throw HostError(ErrorKind::Input, text);
}

bool IsUrl(const std::string& name) {
    static const std::regex url("^[A-Za-z][A-Za-z0-9+.-]*://.*");
    return std::regex_match(name, url);
}

int Interrupt(void*) {
    const std::atomic<bool>* flag = gInterrupted.load();
    return flag && flag->load() ? 1 : 0;
}

} // namespace

void SetInputPolicy(bool allowNetwork, const std::atomic<bool>* interrupted) {
    gNetwork = allowNetwork;
    gInterrupted = interrupted;
}

void CheckInput(const fs::path& path) {
    const std::string name = path.string();
    if (name == "-") {
        InputFail("standard input cannot be the input: fxhost reads its input more than once "
                  "(save it to a file first)");
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        const int err = errno;
        if (IsUrl(name)) {
            if (!gNetwork) {
                InputFail("input '" + name +
                          "' is a URL: fxhost opens network sources only with --network");
            }
            return;
        }
        if (err == ENOENT || err == ENOTDIR) {
            InputFail("input '" + name + "' does not exist");
        }
        InputFail("input '" + name + "' cannot be read: " + std::strerror(err));
    }
    if (S_ISDIR(st.st_mode)) {
        InputFail("input '" + name + "' is a directory");
    }
    if (!S_ISREG(st.st_mode)) {
        InputFail("input '" + name + "' is " +
                  (S_ISFIFO(st.st_mode)    ? "a named pipe"
                   : S_ISSOCK(st.st_mode) ? "a socket"
                                          : "a device") +
                  ": fxhost reads its input more than once (save it to a file first)");
    }
    if (::access(path.c_str(), R_OK) != 0) {
        InputFail("input '" + name + "' cannot be read: " + std::strerror(errno));
    }
}

InputPtr OpenInput(const fs::path& path) {
    const std::string name = path.string();
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        throw HostError(ErrorKind::Internal, "out of memory");
    }
    raw->interrupt_callback = AVIOInterruptCB{Interrupt, nullptr};
    AVDictionary* opts = nullptr;
    struct stat st;
    const bool local = ::stat(path.c_str(), &st) == 0 || !IsUrl(name);
    if (local) {
        av_dict_set(&opts, "protocol_whitelist", "file", 0);
    }
    const std::string url = local ? "file:" + name : name;
    const int r = avformat_open_input(&raw, url.c_str(), nullptr, &opts);
    av_dict_free(&opts);
    if (r < 0) {
        if (r == AVERROR_EXIT) {
            throw HostError(ErrorKind::Interrupted, "interrupted");
        }
        InputFail("input '" + name + "' is not a readable media file: " + AvError(r));
    }
    InputPtr in(raw);
    if (const int f = avformat_find_stream_info(raw, nullptr); f < 0) {
        if (f == AVERROR_EXIT) {
            throw HostError(ErrorKind::Interrupted, "interrupted");
        }
        InputFail("input '" + name + "' is not a readable media file: " + AvError(f));
    }
    return in;
}

} // namespace fxhost::media
