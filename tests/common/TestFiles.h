// TestFiles.h - what every test program shares for files and commands: the one temporary
// folder (made fresh under $TMPDIR or /tmp for the life of the object, and removed with
// everything in it afterwards, even when a test took the folder's rights away), whole-file
// reading and writing, and running a shell command.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>

namespace testfs {

class TempFolder {
  public:
    explicit TempFolder(const char* prefix = "tessera-test") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot make a temporary folder";
            return;
        }
        dir_ = pattern;
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(dir_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    const std::string& path() const { return path_; }
    // The path of `name` in the folder.
    std::string file(const std::string& name) const { return (dir_ / name).string(); }
    std::string operator/(const std::string& name) const { return file(name); }
    // Writes `contents` to `name` in the folder, making the folders on the way.
    void write(const std::string& name, const std::string& contents) const {
        const std::filesystem::path p = dir_ / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << contents;
    }

  private:
    std::filesystem::path dir_;
    std::string path_;
};

// A file's bytes (empty when it cannot be read).
inline std::string Slurp(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// A path quoted for the shell.
inline std::string Quote(const std::filesystem::path& p) {
    std::string s = "'";
    for (char c : p.string()) {
        s += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return s + "'";
}

// Runs a shell command: its exit status, or 128 + the signal that ended it.
inline int Shell(const std::string& command) {
    const int st = std::system(command.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

} // namespace testfs
