// mediainput.h - which inputs fxhost opens, and how.
//
// Owns: the process-wide input policy (local files only, or network sources too) and
// OpenInput, through which every demuxer of an input is opened. Promises:
// - A local input is opened as a "file:" URL with only the file protocol allowed, so any
//   name works (colons included) and nothing inside a file (a playlist, a reference) can
//   make FFmpeg open a network connection. A URL ("scheme://...") is opened only when the
//   policy allows network sources; else it is refused in one line.
// - The input is read more than once (decoding, counting, sound): standard input ("-"),
//   named pipes, sockets and devices are refused at once, before anything is opened.
// - Every blocking read gives up when the interrupt flag is set.
// Failures are HostError (Input) naming the input.
#pragma once

#include "ffutil.h"

#include <atomic>
#include <filesystem>

namespace fxhost::media {

// Set once by the command line before any input is opened.
void SetInputPolicy(bool allowNetwork, const std::atomic<bool>* interrupted);

// Refuses what cannot be an input (missing, unreadable, a folder, a pipe, "-", a URL
// without network sources allowed).
void CheckInput(const std::filesystem::path& path);

// Opens and probes the input (avformat_open_input and avformat_find_stream_info).
InputPtr OpenInput(const std::filesystem::path& path);

} // namespace fxhost::media
