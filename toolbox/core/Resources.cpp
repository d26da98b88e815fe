// Resources.cpp - the Resource Manager: the chain of open resource files, the current file,
// resource handles, and saving maps back to disk.
//
// Owns every open file's map and the handles of the resources it has loaded. A file is read
// whole when it is opened; a save serialises the map and replaces the file atomically (see
// toolbox::files::replaceFileAtomically), so the file on disk is always a complete map.
// Resource forks live in AppleSingle files; a save keeps the file's Finder Info and its
// other entries as they are on disk at that moment.
#include "Resources.h"

#include "AppleSingle.h"
#include "MacMemory.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

using toolbox::rsrc::Fork;
using toolbox::rsrc::Resource;
using toolbox::rsrc::ResourceMap;

namespace {

struct Entry {
    Resource res;            // res.data: the bytes as last read or saved (or a kept change)
    Handle handle = nullptr; // loaded data, owned by the file unless detached
    bool changed = false;
};

struct OpenFile {
    ResFileRefNum refNum = 0;
    std::string path; // resolved: symlinks followed
    Fork fork = Fork::resource;
    bool readOnly = false;
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec mtime = {};
    off_t size = -1;
    UInt16 attributes = 0;
    bool mapChanged = false;
    std::vector<std::unique_ptr<Entry>> entries;
    toolbox::applesingle::File container; // the AppleSingle file as read (resource forks)
};

struct Manager {
    std::recursive_mutex lock;
    std::vector<std::unique_ptr<OpenFile>> chain; // newest first
    ResFileRefNum current = 0;
    OSErr error = noErr;
    std::unordered_map<Handle, std::pair<OpenFile*, Entry*>> owners;
    ResFileRefNum nextRefNum = 100;
};

Manager& mgr() {
    static Manager* m = new Manager; // never destroyed: hosts may close files during exit
    return *m;
}

OSErr setError(OSErr e) {
    mgr().error = e;
    return e;
}

OpenFile* fileOf(ResFileRefNum ref) {
    for (auto& f : mgr().chain)
        if (f->refNum == ref)
            return f.get();
    return nullptr;
}

std::size_t indexOf(ResFileRefNum ref) {
    auto& chain = mgr().chain;
    for (std::size_t i = 0; i < chain.size(); ++i)
        if (chain[i]->refNum == ref)
            return i;
    return chain.size();
}

std::pair<OpenFile*, Entry*> ownerOf(Handle h) {
    auto it = mgr().owners.find(h);
    return it == mgr().owners.end() ? std::pair<OpenFile*, Entry*>{nullptr, nullptr} : it->second;
}

std::vector<UInt8> handleBytes(Handle h) {
    Size n = GetHandleSize(h);
    if (n <= 0 || !*h)
        return {};
    return std::vector<UInt8>(reinterpret_cast<UInt8*>(*h), reinterpret_cast<UInt8*>(*h) + n);
}

// Loads a resource's data into a handle (once).
Handle load(OpenFile* file, Entry* e) {
    if (e->handle)
        return e->handle;
    Handle h = NewHandle(Size(e->res.data.size()));
    if (!h) {
        setError(memFullErr);
        return nullptr;
    }
    if (!e->res.data.empty())
        std::memcpy(*h, e->res.data.data(), e->res.data.size());
    e->handle = h;
    mgr().owners[h] = {file, e};
    HSetState(h, SInt8(HGetState(h) | kHandleIsResourceMask));
    return h;
}

Entry* findEntry(OpenFile* f, ResType type, ResID id) {
    for (auto& e : f->entries)
        if (e->res.type == type && e->res.id == id)
            return e.get();
    return nullptr;
}

// A pending change of a resource whose handle goes away is kept in the entry.
void keepChange(Entry* e) {
    if (e->changed && e->handle)
        e->res.data = handleBytes(e->handle);
}

void refreshIdentity(OpenFile* f) {
    struct stat st;
    if (::stat(f->path.c_str(), &st) == 0) {
        f->dev = st.st_dev;
        f->ino = st.st_ino;
        f->mtime = st.st_mtim;
        f->size = st.st_size;
    }
}

OSErr writeFile(OpenFile* f) {
    if (f->readOnly)
        return wrPermErr;
    ResourceMap map;
    map.fileAttributes = f->attributes;
    for (auto& e : f->entries) {
        Resource r = e->res;
        if (e->changed && e->handle)
            r.data = handleBytes(e->handle);
        map.resources.push_back(std::move(r));
    }
    std::vector<UInt8> rsrcBytes;
    if (OSErr err = map.serialize(rsrcBytes))
        return err;
    std::vector<UInt8> out;
    if (f->fork == Fork::resource) {
        // Keep whatever else the file holds now (another caller may have set its type).
        toolbox::applesingle::File container = f->container;
        std::string now;
        if (toolbox::files::readWholeFile(f->path, now, false) == noErr) {
            toolbox::applesingle::File fresh;
            if (toolbox::applesingle::parse(
                    std::span<const UInt8>(reinterpret_cast<const UInt8*>(now.data()), now.size()),
                    fresh) == noErr)
                container = std::move(fresh);
        }
        container.set(toolbox::applesingle::kResourceFork, rsrcBytes);
        out = toolbox::applesingle::serialize(container);
        f->container = std::move(container);
    } else {
        out = std::move(rsrcBytes);
    }
    if (OSErr err = toolbox::files::replaceFileAtomically(f->path, out.data(), out.size()))
        return err;
    // Saved: what is on disk is now the resources' own bytes.
    std::size_t i = 0;
    for (auto& e : f->entries) {
        e->res.data = std::move(map.resources[i++].data);
        e->changed = false;
    }
    f->mapChanged = false;
    refreshIdentity(f);
    return noErr;
}

bool writable(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || (st.st_mode & 0222) == 0)
        return false; // a read-only file stays read-only, even for the superuser
    std::string dir = path.substr(0, path.rfind('/'));
    if (dir.empty())
        dir = "/";
    return ::access(path.c_str(), W_OK) == 0 && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

// A plain file or a resource-forked document, not a link to one or a folder; its status.
OSErr checkOpenable(const std::string& rawPath, Fork fork, struct stat* st) {
    if (fork == Fork::resource && toolbox::files::isSymbolicLink(rawPath))
        return permErr; // a document of the user's is never read or written through a link
    if (::stat(rawPath.c_str(), st) != 0)
        return toolbox::files::errorFromErrno(errno);
    if (S_ISDIR(st->st_mode))
        return notAFileErr;
    return noErr;
}

// The open file that is this one: only if the open one is still there under its own name,
// unchanged since it was read or saved (the inode of a file deleted while open may be
// reused by a new file, at another name or the same one).
OpenFile* alreadyOpen(Manager& m, const struct stat& st, Fork fork) {
    for (auto& f : m.chain) {
        struct stat openSt;
        const bool same = f->dev == st.st_dev && f->ino == st.st_ino && f->fork == fork &&
                          ::stat(f->path.c_str(), &openSt) == 0 && openSt.st_dev == st.st_dev &&
                          openSt.st_ino == st.st_ino && openSt.st_size == f->size &&
                          openSt.st_mtim.tv_sec == f->mtime.tv_sec &&
                          openSt.st_mtim.tv_nsec == f->mtime.tv_nsec;
        if (same)
            return f.get();
    }
    return nullptr;
}

// The file's resolved name, identity and access, as `permission` asks.
OSErr describe(OpenFile* f, const std::string& rawPath, Fork fork, const struct stat& st,
               SInt8 permission) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(rawPath.c_str(), nullptr),
                                                           &std::free);
    if (!real)
        return toolbox::files::errorFromErrno(errno);
    f->path = real.get();
    f->fork = fork;
    f->dev = st.st_dev;
    f->ino = st.st_ino;
    f->mtime = st.st_mtim;
    f->size = st.st_size;
    const bool canWrite = writable(f->path);
    if (permission == fsRdPerm)
        f->readOnly = true;
    else if (permission == fsCurPerm)
        f->readOnly = !canWrite;
    else if (!canWrite)
        return permErr;
    return noErr;
}

// The file's map into f's entries: the resource fork of an AppleSingle document (kept
// whole in f->container, for saving), or the whole data fork. A document is read without
// following a link at its name: checkOpenable refused one, and one put there since is
// refused by the open itself.
OSErr readMap(OpenFile* f) {
    std::string bytes;
    if (OSErr e = toolbox::files::readWholeFile(f->path, bytes, f->fork != Fork::resource))
        return e;
    std::span<const UInt8> all(reinterpret_cast<const UInt8*>(bytes.data()), bytes.size());
    std::span<const UInt8> forkBytes = all;
    if (f->fork == Fork::resource) {
        if (!toolbox::applesingle::looksLikeAppleSingle(all))
            return eofErr; // the file has no resource fork
        if (OSErr e = toolbox::applesingle::parse(all, f->container))
            return e;
        const auto* rf = f->container.find(toolbox::applesingle::kResourceFork);
        if (!rf || rf->bytes.empty())
            return eofErr;
        forkBytes = rf->bytes;
    } else if (all.empty()) {
        return eofErr;
    }
    ResourceMap map;
    if (ResourceMap::parse(forkBytes, map) != noErr)
        return mapReadErr;
    f->attributes = map.fileAttributes;
    for (auto& r : map.resources) {
        auto e = std::make_unique<Entry>();
        e->res = std::move(r);
        f->entries.push_back(std::move(e));
    }
    return noErr;
}

// Puts f first in the chain under a reference number no open file has; it becomes current.
ResFileRefNum enterChain(Manager& m, std::unique_ptr<OpenFile> f) {
    do {
        f->refNum = m.nextRefNum;
        m.nextRefNum = m.nextRefNum >= 32000 ? 100 : m.nextRefNum + 1;
    } while (fileOf(f->refNum));
    const ResFileRefNum ref = f->refNum;
    m.chain.insert(m.chain.begin(), std::move(f));
    m.current = ref;
    return ref;
}

} // namespace

namespace toolbox::rsrc {

ResFileRefNum openResourceFile(const std::string& rawPath, Fork fork, SInt8 permission) {
    Manager& m = mgr();
    std::lock_guard g(m.lock);
    struct stat st;
    if (OSErr e = checkOpenable(rawPath, fork, &st)) {
        setError(e);
        return kResFileNotOpened;
    }
    if (OpenFile* open = alreadyOpen(m, st, fork)) {
        m.current = open->refNum; // an open file opened again: the same map, now current
        setError(noErr);
        return open->refNum;
    }
    auto f = std::make_unique<OpenFile>();
    OSErr e = describe(f.get(), rawPath, fork, st, permission);
    if (e == noErr)
        e = readMap(f.get());
    setError(e);
    return e == noErr ? enterChain(m, std::move(f)) : kResFileNotOpened;
}

} // namespace toolbox::rsrc

ResFileRefNum FSpOpenResFile(const FSSpec* spec, SInt8 permission) {
    std::lock_guard g(mgr().lock);
    std::string path;
    if (!spec) {
        setError(paramErr);
        return kResFileNotOpened;
    }
    if (OSErr e = toolbox::files::pathFromSpec(*spec, path)) {
        setError(e);
        return kResFileNotOpened;
    }
    return toolbox::rsrc::openResourceFile(path, Fork::resource, permission);
}

void FSpCreateResFile(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag) {
    (void)scriptTag; // names are Mac Roman whatever the script
    std::lock_guard g(mgr().lock);
    std::string path;
    if (!spec) {
        setError(paramErr);
        return;
    }
    if (OSErr e = toolbox::files::pathFromSpec(*spec, path)) {
        setError(e);
        return;
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        setError(dupFNErr); // never touch what is already there
        return;
    }
    std::vector<UInt8> emptyMap;
    ResourceMap().serialize(emptyMap);
    toolbox::applesingle::File file;
    file.setTypeAndCreator(fileType, creator);
    file.set(toolbox::applesingle::kResourceFork, std::move(emptyMap));
    auto bytes = toolbox::applesingle::serialize(file);
    setError(toolbox::files::replaceFileAtomically(path, bytes.data(), bytes.size(), 0600, true));
}

OSErr FSGetDataForkName(HFSUniStr255* dataForkName) {
    if (!dataForkName)
        return paramErr;
    dataForkName->length = 0;
    return noErr;
}

static const char kResourceForkName[] = "RESOURCE_FORK";

OSErr FSGetResourceForkName(HFSUniStr255* resourceForkName) {
    if (!resourceForkName)
        return paramErr;
    resourceForkName->length = UInt16(sizeof kResourceForkName - 1);
    for (std::size_t i = 0; i + 1 < sizeof kResourceForkName; ++i)
        resourceForkName->unicode[i] = UniChar(kResourceForkName[i]);
    return noErr;
}

OSErr FSOpenResourceFile(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName,
                         SInt8 permissions, ResFileRefNum* refNum) {
    if (!ref || !refNum || ref->path[0] != '/')
        return paramErr;
    Fork fork = Fork::data;
    if (forkNameLength > 0) {
        bool isResource = forkName && forkNameLength == sizeof kResourceForkName - 1;
        for (UniCharCount i = 0; isResource && i < forkNameLength; ++i)
            isResource = forkName[i] == UniChar(kResourceForkName[i]);
        if (!isResource)
            return paramErr; // named forks other than these two do not exist here
        fork = Fork::resource;
    }
    std::lock_guard g(mgr().lock);
    *refNum = toolbox::rsrc::openResourceFile(ref->path, fork, permissions);
    return mgr().error;
}

void UpdateResFile(ResFileRefNum refNum) {
    std::lock_guard g(mgr().lock);
    OpenFile* f = fileOf(refNum);
    if (!f) {
        setError(resFNotFound);
        return;
    }
    bool anyChange = f->mapChanged;
    for (auto& e : f->entries)
        anyChange = anyChange || e->changed;
    setError(anyChange ? writeFile(f) : OSErr(noErr));
}

void CloseResFile(ResFileRefNum refNum) {
    Manager& m = mgr();
    std::lock_guard g(m.lock);
    std::size_t i = indexOf(refNum);
    if (i == m.chain.size()) {
        setError(resFNotFound);
        return;
    }
    OpenFile* f = m.chain[i].get();
    bool anyChange = f->mapChanged;
    for (auto& e : f->entries)
        anyChange = anyChange || e->changed;
    OSErr err = anyChange && !f->readOnly ? writeFile(f) : OSErr(noErr);
    for (auto& e : f->entries)
        if (e->handle) {
            m.owners.erase(e->handle);
            DisposeHandle(e->handle);
        }
    if (m.current == refNum)
        m.current = i + 1 < m.chain.size() ? m.chain[i + 1]->refNum : 0;
    m.chain.erase(m.chain.begin() + std::ptrdiff_t(i));
    setError(err);
}

void UseResFile(ResFileRefNum refNum) {
    std::lock_guard g(mgr().lock);
    if (refNum == 0 || fileOf(refNum)) {
        mgr().current = refNum;
        setError(noErr);
    } else {
        setError(resFNotFound);
    }
}

ResFileRefNum CurResFile() {
    std::lock_guard g(mgr().lock);
    return mgr().current;
}

OSErr ResError() {
    std::lock_guard g(mgr().lock);
    return mgr().error;
}

Handle Get1Resource(ResType theType, ResID theID) {
    std::lock_guard g(mgr().lock);
    OpenFile* f = fileOf(mgr().current);
    Entry* e = f ? findEntry(f, theType, theID) : nullptr;
    if (!e) {
        setError(resNotFound);
        return nullptr;
    }
    setError(noErr);
    return load(f, e);
}

Handle GetResource(ResType theType, ResID theID) {
    Manager& m = mgr();
    std::lock_guard g(m.lock);
    for (std::size_t i = indexOf(m.current); i < m.chain.size(); ++i)
        if (Entry* e = findEntry(m.chain[i].get(), theType, theID)) {
            setError(noErr);
            return load(m.chain[i].get(), e);
        }
    setError(resNotFound);
    return nullptr;
}

Handle Get1NamedResource(ResType theType, ConstStr255Param name) {
    std::lock_guard g(mgr().lock);
    OpenFile* f = fileOf(mgr().current);
    std::string n = name ? std::string(reinterpret_cast<const char*>(name + 1), name[0]) : "";
    if (f)
        for (auto& e : f->entries)
            if (e->res.type == theType && e->res.name && *e->res.name == n) {
                setError(noErr);
                return load(f, e.get());
            }
    setError(resNotFound);
    return nullptr;
}

Handle Get1IndResource(ResType theType, SInt16 index) {
    std::lock_guard g(mgr().lock);
    OpenFile* f = fileOf(mgr().current);
    int n = 0;
    if (f && index >= 1)
        for (auto& e : f->entries)
            if (e->res.type == theType && ++n == index) {
                setError(noErr);
                return load(f, e.get());
            }
    setError(resNotFound);
    return nullptr;
}

SInt16 Count1Resources(ResType theType) {
    std::lock_guard g(mgr().lock);
    OpenFile* f = fileOf(mgr().current);
    long n = 0;
    if (f)
        for (auto& e : f->entries)
            n += e->res.type == theType;
    setError(f ? noErr : resFNotFound);
    return SInt16(std::min(n, 32767L)); // a count the 16-bit result can hold
}

static std::vector<ResType> typesOf(const OpenFile* f) {
    std::vector<ResType> types;
    std::set<ResType> seen;
    for (auto& e : f->entries)
        if (seen.insert(e->res.type).second)
            types.push_back(e->res.type);
    return types;
}

SInt16 Count1Types() {
    std::lock_guard g(mgr().lock);
    OpenFile* f = fileOf(mgr().current);
    setError(f ? noErr : resFNotFound);
    return f ? SInt16(std::min<std::size_t>(typesOf(f).size(), 32767)) : 0;
}

void Get1IndType(ResType* theType, SInt16 index) {
    std::lock_guard g(mgr().lock);
    if (!theType)
        return;
    *theType = 0;
    OpenFile* f = fileOf(mgr().current);
    if (!f) {
        setError(resFNotFound);
        return;
    }
    auto types = typesOf(f);
    if (index >= 1 && std::size_t(index) <= types.size()) {
        *theType = types[std::size_t(index - 1)];
        setError(noErr);
    } else {
        setError(resNotFound);
    }
}

void GetResInfo(Handle theResource, ResID* theID, ResType* theType, Str255 name) {
    std::lock_guard g(mgr().lock);
    auto [f, e] = ownerOf(theResource);
    if (!e) {
        setError(resNotFound);
        return;
    }
    if (theID)
        *theID = e->res.id;
    if (theType)
        *theType = e->res.type;
    if (name) {
        std::string n = e->res.name.value_or("");
        name[0] = UInt8(n.size());
        std::memcpy(name + 1, n.data(), n.size());
    }
    setError(noErr);
}

void SetResInfo(Handle theResource, ResID theID, ConstStr255Param name) {
    std::lock_guard g(mgr().lock);
    auto [f, e] = ownerOf(theResource);
    if (!e) {
        setError(resNotFound);
        return;
    }
    if (e->res.attributes & resProtected) {
        setError(resAttrErr);
        return;
    }
    Entry* other = findEntry(f, e->res.type, theID);
    if (other && other != e) {
        setError(resAttrErr); // two resources may not share a type and ID
        return;
    }
    e->res.id = theID;
    if (name)
        e->res.name = name[0] ? std::optional<std::string>(
                                    std::string(reinterpret_cast<const char*>(name + 1), name[0]))
                              : std::nullopt;
    f->mapChanged = true;
    setError(noErr);
}

ResAttributes GetResAttrs(Handle theResource) {
    std::lock_guard g(mgr().lock);
    auto [f, e] = ownerOf(theResource);
    if (!e) {
        setError(resNotFound);
        return 0;
    }
    setError(noErr);
    return ResAttributes(e->res.attributes | (e->changed ? resChanged : 0));
}

void SetResAttrs(Handle theResource, ResAttributes attrs) {
    std::lock_guard g(mgr().lock);
    auto [f, e] = ownerOf(theResource);
    if (!e) {
        setError(resNotFound);
        return;
    }
    e->res.attributes = UInt8(attrs & ~resChanged);
    if (attrs & resChanged)
        e->changed = true;
    f->mapChanged = true;
    setError(noErr);
}

ResFileAttributes GetResFileAttrs(ResFileRefNum refNum) {
    std::lock_guard g(mgr().lock);
    OpenFile* f = fileOf(refNum);
    if (!f) {
        setError(resFNotFound);
        return 0;
    }
    setError(noErr);
    return ResFileAttributes(f->attributes | (f->readOnly ? mapReadOnly : 0) |
                             (f->mapChanged ? mapChanged : 0));
}

ResFileRefNum HomeResFile(Handle theResource) {
    std::lock_guard g(mgr().lock);
    auto [f, e] = ownerOf(theResource);
    setError(f ? noErr : resNotFound);
    return f ? f->refNum : kResFileNotOpened;
}

long GetResourceSizeOnDisk(Handle theResource) {
    std::lock_guard g(mgr().lock);
    auto [f, e] = ownerOf(theResource);
    setError(e ? noErr : resNotFound);
    return e ? long(e->res.data.size()) : -1;
}

void AddResource(Handle theData, ResType theType, ResID theID, ConstStr255Param name) {
    std::lock_guard g(mgr().lock);
    OpenFile* f = fileOf(mgr().current);
    if (!theData || !f || ownerOf(theData).first || findEntry(f, theType, theID)) {
        setError(addResFailed);
        return;
    }
    auto e = std::make_unique<Entry>();
    e->res.type = theType;
    e->res.id = theID;
    if (name && name[0])
        e->res.name = std::string(reinterpret_cast<const char*>(name + 1), name[0]);
    e->handle = theData;
    HSetState(theData, SInt8(HGetState(theData) | kHandleIsResourceMask));
    e->changed = true;
    mgr().owners[theData] = {f, e.get()};
    f->entries.push_back(std::move(e));
    f->mapChanged = true;
    setError(noErr);
}

void RemoveResource(Handle theResource) {
    std::lock_guard g(mgr().lock);
    auto [f, e] = ownerOf(theResource);
    if (!e || (e->res.attributes & resProtected)) {
        setError(rmvResFailed);
        return;
    }
    mgr().owners.erase(theResource);
    HSetState(theResource, SInt8(HGetState(theResource) & ~kHandleIsResourceMask));
    auto it = std::find_if(f->entries.begin(), f->entries.end(),
                           [e = e](const auto& p) { return p.get() == e; });
    f->entries.erase(it);
    f->mapChanged = true;
    setError(noErr);
}

void ChangedResource(Handle theResource) {
    std::lock_guard g(mgr().lock);
    auto [f, e] = ownerOf(theResource);
    if (!e) {
        setError(resNotFound);
        return;
    }
    if (e->res.attributes & resProtected) {
        setError(resAttrErr);
        return;
    }
    e->changed = true;
    f->mapChanged = true;
    setError(noErr);
}

void WriteResource(Handle theResource) {
    std::lock_guard g(mgr().lock);
    auto [f, e] = ownerOf(theResource);
    if (!e) {
        setError(resNotFound);
        return;
    }
    // The file is always saved whole; saving it now writes this resource (and any other
    // change still pending in the file).
    setError(e->changed ? writeFile(f) : OSErr(noErr));
}

void ReleaseResource(Handle theResource) {
    std::lock_guard g(mgr().lock);
    auto [f, e] = ownerOf(theResource);
    if (!e) {
        setError(resNotFound);
        return;
    }
    keepChange(e);
    mgr().owners.erase(theResource);
    e->handle = nullptr;
    DisposeHandle(theResource);
    setError(noErr);
}

void DetachResource(Handle theResource) {
    std::lock_guard g(mgr().lock);
    auto [f, e] = ownerOf(theResource);
    if (!e) {
        setError(resNotFound);
        return;
    }
    keepChange(e);
    mgr().owners.erase(theResource);
    HSetState(theResource, SInt8(HGetState(theResource) & ~kHandleIsResourceMask));
    e->handle = nullptr;
    setError(noErr);
}
