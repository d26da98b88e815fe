// Files.cpp - FSSpec and FSRef over Linux paths, the directory-ID and stand-in-name tables,
// and the atomic file replacement every save of the toolbox goes through.
//
// The tables only grow: an ID or a stand-in name handed out stays valid for the whole
// process, since callers keep FSSpecs as long as they like.
#include "Files.h"

#include "AppleSingle.h"
#include "TextUtils.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace toolbox::files {
namespace {

constexpr std::size_t kMaxSpecName = 63;

struct Tables {
    std::mutex lock;
    std::map<SInt32, std::string> pathOfDir{{fsRtDirID, "/"}};
    std::map<std::string, SInt32> dirOfPath{{"/", fsRtDirID}};
    SInt32 nextDirID = 100;
    // Stand-in names: (directory ID, FSSpec name) <-> Linux name.
    std::map<std::pair<SInt32, std::string>, std::string> linuxOfStandIn;
    std::map<std::pair<SInt32, std::string>, std::string> standInOfLinux;
    unsigned nextStandIn = 1;
};

Tables& tables() {
    static Tables* t = new Tables; // never destroyed: FSSpecs may be used during exit
    return *t;
}

// An absolute, lexically normal path without a trailing separator (symlinks are kept).
std::string normalize(const std::string& path) {
    fs::path p(path);
    if (p.is_relative()) {
        std::error_code ec;
        p = fs::current_path(ec) / p;
    }
    std::string s = p.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

std::string parentOf(const std::string& normal) {
    auto slash = normal.rfind('/');
    return slash == 0 ? std::string("/") : normal.substr(0, slash);
}

// `name` inside the folder at `dir`.
std::string childOf(const std::string& dir, const std::string& name) {
    return dir == "/" ? "/" + name : dir + "/" + name;
}

std::string leafOf(const std::string& normal) {
    return normal.substr(normal.rfind('/') + 1);
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string swapColonSlash(std::string s) {
    for (char& c : s)
        c = c == ':' ? '/' : c == '/' ? ':' : c;
    return s;
}

// The FSSpec name of a Linux name inside directory dirID.
std::string specNameFor(SInt32 dirID, const std::string& linuxName) {
    auto mac = text::utf8ToMacRoman(swapColonSlash(linuxName));
    if (mac && !mac->empty() && mac->size() <= kMaxSpecName &&
        mac->find('\0') == std::string::npos) {
        auto back = text::macRomanToUtf8(*mac);
        if (back && swapColonSlash(*back) == linuxName)
            return *mac;
    }
    Tables& t = tables();
    std::lock_guard g(t.lock);
    auto known = t.standInOfLinux.find({dirID, linuxName});
    if (known != t.standInOfLinux.end())
        return known->second;
    // "<start>#<hex>.<ext>": readable, unique in this process, and at most 63 characters.
    std::string ext;
    auto dot = linuxName.rfind('.');
    if (dot != std::string::npos && dot > 0 && linuxName.size() - dot <= 8) {
        ext = linuxName.substr(dot);
        for (char c : ext)
            if (UInt8(c) < 0x20 || UInt8(c) > 0x7E || c == ':' || c == '/')
                ext.clear();
    }
    char tag[16];
    std::snprintf(tag, sizeof tag, "#%X", t.nextStandIn++);
    std::string start;
    for (char c : linuxName.substr(0, dot == std::string::npos ? linuxName.size() : dot)) {
        if (start.size() + std::strlen(tag) + ext.size() >= kMaxSpecName)
            break;
        if (UInt8(c) < 0x20 || UInt8(c) > 0x7E)
            break; // keep only the plain-ASCII start; the tag carries the rest
        start += c == ':' ? '/' : c;
    }
    std::string standIn = start + tag + ext;
    t.standInOfLinux[{dirID, linuxName}] = standIn;
    t.linuxOfStandIn[{dirID, standIn}] = linuxName;
    return standIn;
}

// The Linux name of an FSSpec name (Mac Roman) inside directory dirID.
bool linuxNameFor(SInt32 dirID, const std::string& specName, std::string& linuxName) {
    {
        Tables& t = tables();
        std::lock_guard g(t.lock);
        auto known = t.linuxOfStandIn.find({dirID, specName});
        if (known != t.linuxOfStandIn.end()) {
            linuxName = known->second;
            return true;
        }
    }
    auto utf8 = text::macRomanToUtf8(specName);
    if (!utf8)
        return false;
    linuxName = swapColonSlash(*utf8);
    return true;
}

bool validSpecName(const std::string& n) {
    return !n.empty() && n.size() <= kMaxSpecName && n.find(':') == std::string::npos &&
           n.find('\0') == std::string::npos && n != "." && n != "..";
}

void fillSpec(FSSpec& spec, SInt32 parID, const std::string& name) {
    spec.vRefNum = kToolboxVolumeRefNum;
    spec.parID = parID;
    spec.name[0] = UInt8(name.size());
    std::memcpy(spec.name + 1, name.data(), name.size());
}

OSErr existence(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return noErr;
    return errno == ENOENT ? OSErr(fnfErr) : errorFromErrno(errno);
}

bool writeAll(int fd, const void* bytes, std::size_t length, int& err) {
    const char* p = static_cast<const char*>(bytes);
    while (length > 0) {
        ssize_t n = ::write(fd, p, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            return false;
        }
        p += n;
        length -= std::size_t(n);
    }
    return true;
}

} // namespace

bool isSymbolicLink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

OSErr errorFromErrno(int err) {
    switch (err) {
    case 0:
        return noErr;
    case ENOENT:
    case ELOOP:
        return fnfErr;
    case ENOTDIR:
        return dirNFErr;
    case EACCES:
    case EPERM:
        return permErr;
    case EROFS:
        return wrPermErr;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return dskFulErr;
    case EISDIR:
        return notAFileErr;
    case EEXIST:
        return dupFNErr;
    case ENAMETOOLONG:
        return bdNamErr;
    case EMFILE:
    case ENFILE:
        return tmfoErr;
    case ENOMEM:
        return memFullErr;
    case EBUSY:
    case ETXTBSY:
        return fBsyErr;
    default:
        return ioErr;
    }
}

SInt32 directoryID(const std::string& directoryPath) {
    std::string p = normalize(directoryPath);
    if (!isDirectory(p))
        return 0;
    Tables& t = tables();
    std::lock_guard g(t.lock);
    auto it = t.dirOfPath.find(p);
    if (it != t.dirOfPath.end())
        return it->second;
    SInt32 id = t.nextDirID++;
    t.dirOfPath[p] = id;
    t.pathOfDir[id] = p;
    return id;
}

std::string directoryPath(SInt32 dirID) {
    Tables& t = tables();
    std::lock_guard g(t.lock);
    auto it = t.pathOfDir.find(dirID);
    return it == t.pathOfDir.end() ? std::string() : it->second;
}

OSErr pathFromSpec(const FSSpec& spec, std::string& path) {
    if (spec.vRefNum != kToolboxVolumeRefNum && spec.vRefNum != 0 && spec.vRefNum != -32768)
        return nsvErr;
    if (spec.parID == fsRtParID && spec.name[0] == 0) {
        path.assign(1, '/');
        return noErr;
    }
    std::string dir = directoryPath(spec.parID);
    if (dir.empty())
        return dirNFErr;
    std::string name(reinterpret_cast<const char*>(spec.name + 1), spec.name[0]);
    if (!validSpecName(name))
        return bdNamErr;
    std::string linuxName;
    if (!linuxNameFor(spec.parID, name, linuxName))
        return bdNamErr;
    path = dir;
    if (path != "/")
        path += '/';
    path += linuxName;
    return noErr;
}

OSErr specFromPath(const std::string& rawPath, FSSpec& spec) {
    std::string p = normalize(rawPath);
    if (p == "/") {
        fillSpec(spec, fsRtParID, "");
        return noErr;
    }
    std::string parent = parentOf(p);
    SInt32 parID = directoryID(parent);
    if (parID == 0)
        return dirNFErr;
    fillSpec(spec, parID, specNameFor(parID, leafOf(p)));
    return existence(p);
}

namespace {

// A save's temporary file is named ".LEAF.PID-XXXXXX". A process killed between making it
// and renaming it leaves it behind; the next successful save of the same file removes the
// ones whose process no longer exists (never a live saver's, never anything else).
std::string TemporaryPrefix(const std::string& leaf) {
    return "." + leaf + ".";
}

} // namespace

OSErr replaceFileAtomically(const std::string& rawPath, const void* bytes, std::size_t length,
                            unsigned mode, bool mustNotExist) {
    const std::string path = normalize(rawPath);
    const std::string dir = parentOf(path);
    if (!mustNotExist) {
        struct stat st;
        if (::stat(path.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                return notAFileErr;
            mode = st.st_mode & 07777; // an existing file keeps its permissions
        }
    }
    std::string leaf = leafOf(path);
    if (leaf.size() > 200)
        leaf.resize(200); // room for the temporary name's decoration within NAME_MAX
    std::string tmp = (dir == "/" ? std::string() : dir) + "/" + TemporaryPrefix(leaf) +
                      std::to_string(::getpid()) + "-XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        return errorFromErrno(errno);
    int err = 0;
    bool ok = ::fchmod(fd, mode) == 0 || (err = errno, false);
    ok = ok && writeAll(fd, bytes, length, err);
    ok = ok && (::fsync(fd) == 0 || (err = errno, false));
    if (::close(fd) != 0 && ok) {
        err = errno;
        ok = false;
    }
    if (ok) {
        if (mustNotExist) {
            if (::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
                if (errno == EINVAL || errno == ENOSYS) {
                    // A file system without RENAME_NOREPLACE: link() refuses to replace too.
                    ok = ::link(tmp.c_str(), path.c_str()) == 0 || (err = errno, false);
                    ::unlink(tmp.c_str());
                } else {
                    err = errno;
                    ok = false;
                }
            }
        } else if (::rename(tmp.c_str(), path.c_str()) != 0) {
            err = errno;
            ok = false;
        }
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        return errorFromErrno(err);
    }
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd); // the rename itself reaches the disk
        ::close(dfd);
    }
    const std::string prefix = TemporaryPrefix(leaf);
    removeDeadProcessTemporaries(dir, [&prefix](const std::string& name) {
        return name.starts_with(prefix)
                   ? temporaryOwner(std::string_view(name).substr(prefix.size()))
                   : 0L;
    });
    return noErr;
}

long temporaryOwner(std::string_view tail, bool bareAllowed) {
    const std::size_t dash = tail.find('-');
    if (dash != std::string_view::npos) {
        if (tail.size() - dash - 1 != 6)
            return 0;
        tail = tail.substr(0, dash);
    } else if (!bareAllowed) {
        return 0;
    }
    if (tail.empty() || tail.size() > 10 || tail.find_first_not_of("0123456789") != tail.npos)
        return 0;
    const long pid = std::strtol(std::string(tail).c_str(), nullptr, 10);
    return pid > 0 && pid <= long(INT_MAX) ? pid : 0;
}

void removeDeadProcessTemporaries(const std::string& dir,
                                  const std::function<long(const std::string& name)>& ownerOf) {
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr)
        return;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        const long pid = ownerOf(name);
        if (pid <= 0 || pid > long(INT_MAX) || pid == long(::getpid()))
            continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue; // its maker may still be at work
        struct stat st;
        if (::fstatat(::dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            ::unlinkat(::dirfd(d), name.c_str(), 0);
    }
    ::closedir(d);
}

OSErr readWholeFile(const std::string& path, std::string& contents, bool followLinks) {
    // O_NONBLOCK: opening a named pipe for reading would otherwise wait for a writer
    // forever; it is refused below, and regular files ignore the flag.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0 && !followLinks && errno == ELOOP)
        return permErr;
    if (fd < 0)
        return errno == EISDIR ? OSErr(notAFileErr) : errorFromErrno(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        return errorFromErrno(e);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return notAFileErr;
    }
    if (!S_ISREG(st.st_mode) || st.st_size > (off_t(256) << 20)) {
        ::close(fd);
        return ioErr; // devices, pipes and huge files are not documents of this system
    }
    std::string out;
    out.resize(std::size_t(st.st_size));
    std::size_t got = 0;
    while (got < out.size()) {
        ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int e = errno;
            ::close(fd);
            return errorFromErrno(e);
        }
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    ::close(fd);
    out.resize(got);
    contents = std::move(out);
    return noErr;
}

} // namespace toolbox::files

using namespace toolbox::files;

// The folder a spec's name is relative to: the working directory for dirID 0.
static OSErr startingFolder(SInt32 dirID, std::string& dir) {
    if (dirID == 0) {
        std::error_code ec;
        dir = fs::current_path(ec).string();
        if (ec)
            return dirNFErr;
    } else {
        dir = directoryPath(dirID);
    }
    if (dir.empty() || !isDirectory(dir))
        return dirNFErr;
    return noErr;
}

// The ':'-separated parts of a name. A partial path ":a:b" is b inside a; every extra ':'
// gives an empty part, which steps up one folder.
static OSErr nameParts(const std::string& n, std::vector<std::string>& parts) {
    if (!n.empty() && n.front() == ':') {
        std::string cur;
        for (std::size_t i = 1; i <= n.size(); ++i) {
            if (i == n.size() || n[i] == ':') {
                parts.push_back(cur);
                cur.clear();
            } else {
                cur += n[i];
            }
        }
    } else if (n.find(':') != std::string::npos) {
        return bdNamErr; // full paths name volumes this system does not have
    } else if (!n.empty()) {
        parts.push_back(n);
    }
    return noErr;
}

// Down (or, for an empty part, up) through the folder parts from `dir`, keeping `curID`
// the ID of the folder reached.
static OSErr walkFolders(const std::vector<std::string>& folders, std::string& dir, SInt32& curID) {
    for (const auto& part : folders) {
        if (part.empty()) {
            dir = parentOf(dir);
        } else {
            std::string linuxName;
            if (!validSpecName(part) || !linuxNameFor(curID, part, linuxName))
                return bdNamErr;
            dir = childOf(dir, linuxName);
            if (!isDirectory(dir))
                return dirNFErr;
        }
        curID = directoryID(dir);
    }
    return noErr;
}

OSErr FSMakeFSSpec(SInt16 vRefNum, SInt32 dirID, ConstStr255Param name, FSSpec* spec) {
    if (!spec)
        return paramErr;
    if (vRefNum != 0 && vRefNum != kToolboxVolumeRefNum && vRefNum != -32768)
        return nsvErr;
    std::string dir;
    if (OSErr err = startingFolder(dirID, dir))
        return err;
    SInt32 curID = directoryID(dir);

    std::string n = name ? std::string(reinterpret_cast<const char*>(name + 1), name[0]) : "";
    std::vector<std::string> parts;
    if (OSErr err = nameParts(n, parts))
        return err;
    // All but the last part are folders.
    std::string leaf = parts.empty() ? std::string() : parts.back();
    if (!parts.empty())
        parts.pop_back();
    if (OSErr err = walkFolders(parts, dir, curID))
        return err;
    if (leaf.empty()) {
        // The folder itself.
        return specFromPath(dir, *spec);
    }
    if (!validSpecName(leaf))
        return bdNamErr;
    std::string linuxName;
    if (!linuxNameFor(curID, leaf, linuxName))
        return bdNamErr;
    spec->vRefNum = kToolboxVolumeRefNum;
    spec->parID = curID;
    spec->name[0] = UInt8(leaf.size());
    std::memcpy(spec->name + 1, leaf.data(), leaf.size());
    return existence(childOf(dir, linuxName));
}

static OSErr fillRef(const std::string& path, FSRef* ref) {
    if (path.size() + 1 > kFSRefPathCapacity)
        return bdNamErr;
    std::memcpy(ref->path, path.c_str(), path.size() + 1);
    return noErr;
}

OSErr FSpMakeFSRef(const FSSpec* source, FSRef* newRef) {
    if (!source || !newRef)
        return paramErr;
    std::string path;
    if (OSErr e = pathFromSpec(*source, path))
        return e;
    if (OSErr e = existence(path))
        return e;
    return fillRef(path, newRef);
}

OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory) {
    if (!path || !ref || !*path)
        return paramErr;
    std::string p = normalize(reinterpret_cast<const char*>(path));
    struct stat st;
    if (::stat(p.c_str(), &st) != 0)
        return errorFromErrno(errno);
    if (isDirectory)
        *isDirectory = S_ISDIR(st.st_mode);
    return fillRef(p, ref);
}

OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize) {
    if (!ref || !path || ref->path[0] != '/')
        return paramErr;
    std::size_t n = strnlen(ref->path, kFSRefPathCapacity);
    if (n == kFSRefPathCapacity || n + 1 > maxPathSize)
        return paramErr;
    std::memcpy(path, ref->path, n + 1);
    return noErr;
}

OSErr FSGetFSSpecFromFSRef(const FSRef* ref, FSSpec* spec) {
    if (!ref || !spec || ref->path[0] != '/' ||
        strnlen(ref->path, kFSRefPathCapacity) == kFSRefPathCapacity)
        return paramErr;
    return specFromPath(ref->path, *spec);
}

// Reads a file as AppleSingle; notAFileErr for folders, wrPermErr-free plain files give false.
static OSErr readAppleSingle(const FSSpec* spec, std::string& path, std::string& bytes,
                             bool& isAppleSingle, toolbox::applesingle::File& file) {
    if (!spec)
        return paramErr;
    if (OSErr e = pathFromSpec(*spec, path))
        return e;
    if (isSymbolicLink(path))
        return permErr; // never read or written through a link to elsewhere
    if (OSErr e = readWholeFile(path, bytes))
        return e;
    auto span = std::span<const UInt8>(reinterpret_cast<const UInt8*>(bytes.data()), bytes.size());
    isAppleSingle = toolbox::applesingle::looksLikeAppleSingle(span);
    if (isAppleSingle)
        return toolbox::applesingle::parse(span, file);
    return noErr;
}

OSErr FSpGetFInfo(const FSSpec* spec, FInfo* fndrInfo) {
    if (!fndrInfo)
        return paramErr;
    std::string path, bytes;
    bool isAS = false;
    toolbox::applesingle::File file;
    if (OSErr e = readAppleSingle(spec, path, bytes, isAS, file))
        return e;
    std::memset(fndrInfo, 0, sizeof *fndrInfo);
    if (!isAS)
        return noErr;
    const auto* fi = file.find(toolbox::applesingle::kFinderInfo);
    if (!fi || fi->bytes.size() < 16)
        return noErr;
    const UInt8* b = fi->bytes.data();
    auto u16 = [&](int at) { return UInt16((b[at] << 8) | b[at + 1]); };
    fndrInfo->fdType = file.fileType();
    fndrInfo->fdCreator = file.creator();
    fndrInfo->fdFlags = u16(8);
    fndrInfo->fdLocation.v = SInt16(u16(10));
    fndrInfo->fdLocation.h = SInt16(u16(12));
    fndrInfo->fdFldr = SInt16(u16(14));
    return noErr;
}

OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* fndrInfo) {
    if (!fndrInfo)
        return paramErr;
    std::string path, bytes;
    bool isAS = false;
    toolbox::applesingle::File file;
    if (OSErr e = readAppleSingle(spec, path, bytes, isAS, file))
        return e;
    if (!isAS)
        return wrPermErr; // a plain file has nowhere to keep a type and creator
    file.setTypeAndCreator(fndrInfo->fdType, fndrInfo->fdCreator);
    auto& fi = file.find(toolbox::applesingle::kFinderInfo)->bytes;
    auto put16 = [&](int at, UInt16 v) {
        fi[std::size_t(at)] = UInt8(v >> 8);
        fi[std::size_t(at + 1)] = UInt8(v);
    };
    put16(8, fndrInfo->fdFlags);
    put16(10, UInt16(fndrInfo->fdLocation.v));
    put16(12, UInt16(fndrInfo->fdLocation.h));
    put16(14, UInt16(fndrInfo->fdFldr));
    auto out = toolbox::applesingle::serialize(file);
    return replaceFileAtomically(path, out.data(), out.size());
}

OSErr FSpDelete(const FSSpec* spec) {
    if (!spec)
        return paramErr;
    std::string path;
    if (OSErr e = pathFromSpec(*spec, path))
        return e;
    if (::unlink(path.c_str()) == 0)
        return noErr;
    if (errno == EISDIR || errno == EPERM) {
        if (::rmdir(path.c_str()) == 0)
            return noErr;
        return errno == ENOTEMPTY || errno == EEXIST ? OSErr(fBsyErr) : errorFromErrno(errno);
    }
    return errorFromErrno(errno);
}
