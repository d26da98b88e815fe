// outputfile.h - how fxhost puts a finished file under the name the user gave.
//
// Owns: OutputFile, the hidden temporary a render or a thumbnail is written to and its
// final rename, and the process-wide list of live temporaries that a signal removes.
// Promises:
// - The temporary is ".NAME.part-PID-XXXXXX" beside OUTPUT, NAME shortened so that the
//   whole stays within NAME_MAX; it is created with O_EXCL under the user's umask. Any
//   name the file system takes works, colons included: FFmpeg is handed "file:" URLs.
// - commit() puts the temporary under OUTPUT. Without `replace`, nothing that stands at
//   OUTPUT is ever replaced, not even something that appeared during the render or a
//   dangling link: the rename refuses atomically (renameat2 RENAME_NOREPLACE, or link()
//   where the file system has no such rename).
// - A temporary not committed is removed by the destructor; RemoveLiveTemporaries(),
//   async-signal-safe, removes all of them (for a signal that must end the process).
// - Creating one removes the temporaries that fxhost runs which no longer exist left in
//   the same folder (regular files of this user only, as the preferences code does).
#pragma once

#include <filesystem>
#include <string>

namespace fxhost::media {

class OutputFile {
  public:
    // Creates the temporary; throws HostError (Output) naming `target` when it cannot.
    OutputFile(const std::filesystem::path& target, bool replace);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::filesystem::path& temporary() const { return temp_; }
    // The temporary as a URL for avio_open.
    std::string url() const { return "file:" + temp_.string(); }
    // Renames the temporary to the target (see above); throws HostError (Output).
    void commit();

  private:
    std::filesystem::path target_, temp_;
    bool replace_;
    int slot_ = -1;
    bool committed_ = false;
};

// Refuses (HostError, Output) an output name that something stands at (a dangling link
// included) unless `replace`; and an output that is the input itself (the same file, by
// device and inode, or by name) unless `replaceInput`.
void CheckOutputFree(const std::filesystem::path& output, bool replace);
void CheckNotInput(const std::filesystem::path& output, const std::filesystem::path& input,
                   bool replaceInput);

// Unlinks every temporary of this process not yet committed. Async-signal-safe.
void RemoveLiveTemporaries();

} // namespace fxhost::media
