// outputfile.cpp - temporaries, the no-replace rename and the clean-up after dead runs.
#include "outputfile.h"

#include "Files.h"
#include "hosterror.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace fxhost::media {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void OutputFail(const std::string& text) {
    throw HostError(ErrorKind::Output, text);
}

// Live temporaries, for a signal handler: fixed storage, no allocation, no locks.
struct Slot {
    std::atomic<bool> used{false};
    std::atomic<bool> live{false};
    char path[PATH_MAX];
};
std::array<Slot, 8> gSlots;

int Register(const fs::path& p) {
    const std::string s = p.string();
    if (s.size() >= PATH_MAX) {
        return -1;
    }
    for (int i = 0; i < int(gSlots.size()); ++i) {
        bool expected = false;
        if (gSlots[i].used.compare_exchange_strong(expected, true)) {
            std::memcpy(gSlots[i].path, s.c_str(), s.size() + 1);
            gSlots[i].live.store(true);
            return i;
        }
    }
    return -1; // more outputs at once than slots: only the destructor removes this one
}

void Unregister(int slot) {
    if (slot >= 0) {
        gSlots[slot].live.store(false);
        gSlots[slot].used.store(false);
    }
}

constexpr const char* kPart = ".part-";

// Names of fxhost temporaries: ".NAME.part-PID-XXXXXX" (and ".NAME.part-PID" of older
// versions). The PID, or 0 when `name` is not one.
long TemporaryPid(const std::string& name) {
    if (name.size() < 2 || name[0] != '.') {
        return 0;
    }
    const std::size_t at = name.rfind(kPart);
    if (at == std::string::npos || at == 0) {
        return 0;
    }
    return toolbox::files::temporaryOwner(std::string_view(name).substr(at + std::strlen(kPart)),
                                          /*bareAllowed=*/true);
}

// The target's name shortened to leave room for the decoration within NAME_MAX, cut at a
// UTF-8 character boundary.
std::string ShortLeaf(std::string leaf) {
    constexpr std::size_t kMax = 200;
    if (leaf.size() > kMax) {
        std::size_t n = kMax;
        while (n > 0 && (static_cast<unsigned char>(leaf[n]) & 0xC0) == 0x80) {
            --n;
        }
        leaf.resize(n);
    }
    return leaf;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

void CheckOutputFree(const fs::path& output, bool replace) {
    struct stat st;
    if (!replace && ::lstat(output.c_str(), &st) == 0) {
        OutputFail("output '" + output.string() + "' exists (use -y to replace it)");
    }
}

void CheckNotInput(const fs::path& output, const fs::path& input, bool replaceInput) {
    if (replaceInput) {
        return;
    }
    struct stat in, out;
    std::error_code inError, outError;
    const fs::path inPath = fs::weakly_canonical(input, inError);
    const fs::path outPath = fs::weakly_canonical(output, outError);
    const bool same =
        (::stat(input.c_str(), &in) == 0 && ::stat(output.c_str(), &out) == 0 && SameFile(in, out)) ||
        (!inError && !outError && inPath == outPath);
    if (same) {
        OutputFail("output '" + output.string() +
                   "' is the input: it would be replaced by its own rendering (write elsewhere, "
                   "or use --replace-input with -y)");
    }
}

OutputFile::OutputFile(const fs::path& target, bool replace) : target_(target), replace_(replace) {
    const fs::path dir = target.parent_path();
    toolbox::files::removeDeadProcessTemporaries(dir.string(), TemporaryPid);
    const std::string base = "." + ShortLeaf(target.filename().string()) + kPart +
                             std::to_string(::getpid()) + "-";
    std::random_device rd;
    std::mt19937 rng(rd());
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = base;
        for (int i = 0; i < 6; ++i) {
            name += kChars[rng() % (sizeof kChars - 1)];
        }
        const fs::path p = dir / name;
        // Registered before it exists, so that a signal arriving in between finds it.
        const int slot = Register(p);
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            temp_ = p;
            slot_ = slot;
            return;
        }
        const int err = errno;
        Unregister(slot);
        if (err != EEXIST) {
            OutputFail("cannot write '" + target.string() + "': " + std::strerror(err));
        }
    }
    OutputFail("cannot write '" + target.string() + "': no free temporary name beside it");
}

OutputFile::~OutputFile() {
    if (!committed_ && !temp_.empty()) {
        ::unlink(temp_.c_str());
    }
    Unregister(slot_);
}

void OutputFile::commit() {
    // The data reaches the disk before the name does, so a crash leaves the old state.
    // A full disk can first show here (written pages that cannot be stored): the render
    // fails then, and the short file never gets the final name.
    const int fd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int err = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        OutputFail("cannot write '" + target_.string() + "': " + std::strerror(err));
    }
    if (::close(fd) != 0) {
        OutputFail("cannot write '" + target_.string() + "': " + std::strerror(errno));
    }
    int r;
    if (replace_) {
        r = ::rename(temp_.c_str(), target_.c_str());
    } else {
        r = ::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE);
        if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without RENAME_NOREPLACE: link() refuses to replace too.
            r = ::link(temp_.c_str(), target_.c_str());
            if (r == 0) {
                ::unlink(temp_.c_str());
            }
        }
    }
    if (r != 0) {
        const int err = errno;
        if (err == EEXIST) {
            OutputFail("output '" + target_.string() +
                       "' appeared while rendering and was kept (use -y to replace it)");
        }
        OutputFail("cannot write '" + target_.string() + "': " + std::strerror(err));
    }
    committed_ = true;
    const fs::path dir = target_.parent_path();
    if (const int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

void RemoveLiveTemporaries() {
    for (Slot& s : gSlots) {
        if (s.live.load()) {
            ::unlink(s.path);
        }
    }
}

} // namespace fxhost::media
