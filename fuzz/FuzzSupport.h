// FuzzSupport.h - what the fuzz targets share: a private scratch folder (in memory when
// the machine has /dev/shm, so that a target that has to go through real files stays
// fast) and writing one input into a file there.
//
// Promises: the folder is made once per process and removed at exit; files written there
// replace the previous input whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fuzzsupport {

inline const std::filesystem::path& ScratchDir() {
    static const std::filesystem::path dir = [] {
        std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/tessera-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        static std::filesystem::path made = pattern;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(made, ec);
        });
        return made;
    }();
    return dir;
}

inline void WriteFile(const std::filesystem::path& path, const std::uint8_t* data,
                      std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::perror(path.c_str());
        std::abort();
    }
    if (size > 0 && std::fwrite(data, 1, size, f) != size) {
        std::perror("fwrite");
        std::abort();
    }
    std::fclose(f);
}

// Stops the run with a message: a broken promise, not a crash the sanitizers would see.
[[noreturn]] inline void Broken(const char* what) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

} // namespace fuzzsupport
