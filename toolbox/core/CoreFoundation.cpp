// CoreFoundation.cpp - reference-counted strings, file URLs and bundles (see CoreFoundation.h).
//
// Owns the constant-string table and the registry of live bundles. Strings keep UTF-8 text
// and convert to UTF-16 only where a caller counts or reads characters. Bundles read their
// Info.plist once, when they are created; their string values live as long as the bundle.
#include "CoreFoundation.h"

#include "TextUtils.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <map>
#include <mutex>
#if TOOLBOX_WITH_PLIST
#include <plist/plist.h>
#endif
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

enum : CFTypeID { kStringTypeID = 7, kURLTypeID = 29, kBundleTypeID = 31 };

struct CFObject {
    explicit CFObject(CFTypeID t) : type(t) {}
    virtual ~CFObject() = default;
    std::atomic<long> refs{1};
    CFTypeID type;
    bool immortal = false;
};

} // namespace

struct __CFString : CFObject {
    explicit __CFString(std::string s, bool isMutable = false)
        : CFObject(kStringTypeID), utf8(std::move(s)), mutableString(isMutable) {}
    std::string utf8;
    bool mutableString;
};

struct __CFURL : CFObject {
    __CFURL(std::string p, bool dir) : CFObject(kURLTypeID), path(std::move(p)), isDirectory(dir) {}
    std::string path;
    bool isDirectory;
};

struct __CFBundle : CFObject {
    __CFBundle() : CFObject(kBundleTypeID) {}
    ~__CFBundle() override {
        for (auto& [k, v] : strings)
            delete v;
        // The executable stays loaded: code of it may still be running or referenced.
    }
    std::string path;                                 // resolved path of Name.bundle
    std::map<std::string, const __CFString*> strings; // Info.plist string values
    void* library = nullptr;
};

namespace {

struct Registry {
    std::mutex lock;
    std::vector<__CFBundle*> bundles;
    std::map<std::string, const __CFString*> constants;
};

Registry& registry() {
    static Registry* r = new Registry; // never destroyed: constant strings outlive exit
    return *r;
}

thread_local std::string gLastLoadError;

const CFObject* obj(CFTypeRef cf) {
    return static_cast<const CFObject*>(cf);
}

CFStringRef newString(std::string utf8) {
    return new __CFString(std::move(utf8));
}

std::u16string toUtf16(const std::string& s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        auto c = UInt8(s[i]);
        UInt32 cp;
        std::size_t n;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if (c < 0xE0) {
            cp = c & 0x1F;
            n = 2;
        } else if (c < 0xF0) {
            cp = c & 0x0F;
            n = 3;
        } else {
            cp = c & 0x07;
            n = 4;
        }
        for (std::size_t k = 1; k < n && i + k < s.size(); ++k)
            cp = (cp << 6) | (UInt8(s[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

std::optional<std::string> fromUtf16(const UniChar* chars, CFIndex n) {
    std::string out;
    for (CFIndex i = 0; i < n; ++i) {
        UInt32 cp = chars[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= n || chars[i + 1] < 0xDC00 || chars[i + 1] > 0xDFFF)
                return std::nullopt;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (chars[++i] - 0xDC00);
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return std::nullopt;
        }
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

// Bytes in an encoding to UTF-8, or nullopt.
std::optional<std::string> decode(std::string_view bytes, CFStringEncoding encoding) {
    switch (encoding) {
    case kCFStringEncodingMacRoman:
        return toolbox::text::macRomanToUtf8(bytes);
    case kCFStringEncodingUTF8:
        if (toolbox::text::isValidUtf8(bytes))
            return std::string(bytes);
        return std::nullopt;
    case kCFStringEncodingASCII:
        for (char c : bytes)
            if (UInt8(c) >= 0x80)
                return std::nullopt;
        return std::string(bytes);
    default:
        return std::nullopt;
    }
}

// UTF-8 to bytes in an encoding, or nullopt.
std::optional<std::string> encode(const std::string& utf8, CFStringEncoding encoding) {
    switch (encoding) {
    case kCFStringEncodingMacRoman:
        return toolbox::text::utf8ToMacRoman(utf8);
    case kCFStringEncodingUTF8:
        return utf8;
    case kCFStringEncodingASCII:
        for (char c : utf8)
            if (UInt8(c) >= 0x80)
                return std::nullopt;
        return utf8;
    default:
        return std::nullopt;
    }
}

const __CFString* str(CFStringRef s) {
    return s && obj(s)->type == kStringTypeID ? static_cast<const __CFString*>(s) : nullptr;
}
const __CFURL* url(CFURLRef u) {
    return u && obj(u)->type == kURLTypeID ? static_cast<const __CFURL*>(u) : nullptr;
}
__CFBundle* bundle(CFBundleRef b) {
    return b && obj(b)->type == kBundleTypeID ? b : nullptr;
}

std::string absoluteNormal(const std::string& p) {
    fs::path path(p);
    if (path.is_relative()) {
        std::error_code ec;
        path = fs::current_path(ec) / path;
    }
    std::string s = path.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

bool exists(const std::string& p, bool* isDir = nullptr) {
    struct stat st;
    if (::stat(p.c_str(), &st) != 0)
        return false;
    if (isDir)
        *isDir = S_ISDIR(st.st_mode);
    return true;
}

CFURLRef fileURL(const std::string& p) {
    bool dir = false;
    exists(p, &dir);
    return new __CFURL(p, dir);
}

std::string infoString(const __CFBundle* b, const char* key) {
    auto it = b->strings.find(key);
    return it == b->strings.end() ? std::string() : it->second->utf8;
}

#if !TOOLBOX_WITH_PLIST
// A build without libplist (the PowerPC one: Debian has no such package) reads no
// Info.plist: its bundles have no keys, so they have no identifier and no executable name.
void readInfoPlist(__CFBundle*) {}
#else
void readInfoPlist(__CFBundle* b) {
    std::string bytes;
    if (toolbox::files::readWholeFile(b->path + "/Contents/Info.plist", bytes) != noErr ||
        bytes.empty() || bytes.size() > 0xFFFFFFF)
        return;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), UInt32(bytes.size()), &root);
    if (!root)
        return;
    // Keys and strings may hold NUL bytes (binary plists store lengths; XML ones may carry
    // raw NULs), and libplist's accessors assert on such texts and end the process. The
    // tree is written out as XML, where such a text shows as a NUL byte: a plist holding one
    // is treated as unreadable (a bundle with no keys) instead of crashing its reader.
    char* xml = nullptr;
    uint32_t xmlLength = 0;
    plist_to_xml(root, &xml, &xmlLength);
    plist_free(root);
    root = nullptr;
    if (xml && std::memchr(xml, 0, xmlLength) == nullptr)
        plist_from_xml(xml, xmlLength, &root);
    plist_to_xml_free(xml);
    if (!root)
        return;
    if (plist_get_node_type(root) == PLIST_DICT) {
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(root, &it);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(root, it, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
            if (key && plist_get_node_type(value) == PLIST_STRING) {
                char* s = nullptr;
                plist_get_string_val(value, &s);
                if (s && toolbox::text::isValidUtf8(s) && !b->strings.count(key))
                    b->strings[key] = new __CFString(s);
                std::free(s);
            }
            std::free(key);
        }
        std::free(it);
    }
    plist_free(root);
}

#endif
} // namespace

// ---- objects

CFTypeRef CFRetain(CFTypeRef cf) {
    if (cf && !obj(cf)->immortal)
        const_cast<CFObject*>(obj(cf))->refs.fetch_add(1);
    return cf;
}

void CFRelease(CFTypeRef cf) {
    if (!cf || obj(cf)->immortal)
        return;
    auto* o = const_cast<CFObject*>(obj(cf));
    if (o->type == kBundleTypeID) {
        // Leave the registry under its lock, so that a lookup never finds a dying bundle.
        Registry& r = registry();
        std::unique_lock g(r.lock);
        if (o->refs.fetch_sub(1) != 1)
            return;
        std::erase(r.bundles, static_cast<__CFBundle*>(o));
        g.unlock();
        delete o;
        return;
    }
    if (o->refs.fetch_sub(1) == 1)
        delete o;
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
    if (!cf)
        return 0;
    return obj(cf)->immortal ? LONG_MAX : obj(cf)->refs.load();
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
    return cf ? obj(cf)->type : 0;
}
CFTypeID CFStringGetTypeID() {
    return kStringTypeID;
}
CFTypeID CFURLGetTypeID() {
    return kURLTypeID;
}
CFTypeID CFBundleGetTypeID() {
    return kBundleTypeID;
}

Boolean CFEqual(CFTypeRef a, CFTypeRef b) {
    if (a == b)
        return a != nullptr;
    if (!a || !b || obj(a)->type != obj(b)->type)
        return false;
    if (obj(a)->type == kStringTypeID)
        return str(CFStringRef(a))->utf8 == str(CFStringRef(b))->utf8;
    if (obj(a)->type == kURLTypeID)
        return url(CFURLRef(a))->path == url(CFURLRef(b))->path &&
               url(CFURLRef(a))->isDirectory == url(CFURLRef(b))->isDirectory;
    return false;
}

// ---- strings

CFStringRef __CFStringMakeConstantString(const char* utf8) {
    if (!utf8)
        return nullptr;
    Registry& r = registry();
    std::lock_guard g(r.lock);
    auto it = r.constants.find(utf8);
    if (it != r.constants.end())
        return it->second;
    std::string text = utf8;
    if (!toolbox::text::isValidUtf8(text))
        text = toolbox::text::macRomanToUtf8(text).value_or("");
    auto* s = new __CFString(text);
    s->immortal = true;
    r.constants[utf8] = s;
    return s;
}

CFStringRef CFStringCreateWithPascalString(CFAllocatorRef, ConstStr255Param pStr,
                                           CFStringEncoding encoding) {
    if (!pStr)
        return nullptr;
    auto text =
        decode(std::string_view(reinterpret_cast<const char*>(pStr + 1), pStr[0]), encoding);
    return text ? newString(std::move(*text)) : nullptr;
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding) {
    if (!cStr)
        return nullptr;
    auto text = decode(cStr, encoding);
    return text ? newString(std::move(*text)) : nullptr;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) {
    if (numBytes < 0 || (!bytes && numBytes > 0))
        return nullptr;
    auto text = decode(
        std::string_view(reinterpret_cast<const char*>(bytes), std::size_t(numBytes)), encoding);
    return text ? newString(std::move(*text)) : nullptr;
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* chars, CFIndex numChars) {
    if (numChars < 0 || (!chars && numChars > 0))
        return nullptr;
    auto text = fromUtf16(chars, numChars);
    return text ? newString(std::move(*text)) : nullptr;
}

CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef theString) {
    const __CFString* s = str(theString);
    return s ? newString(s->utf8) : nullptr;
}

CFIndex CFStringGetLength(CFStringRef theString) {
    const __CFString* s = str(theString);
    return s ? CFIndex(toUtf16(s->utf8).size()) : 0;
}

UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx) {
    const __CFString* s = str(theString);
    if (!s || idx < 0)
        return 0;
    auto u = toUtf16(s->utf8);
    return std::size_t(idx) < u.size() ? UniChar(u[std::size_t(idx)]) : 0;
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer) {
    const __CFString* s = str(theString);
    if (!s || !buffer || range.location < 0 || range.length < 0)
        return;
    auto u = toUtf16(s->utf8);
    for (CFIndex i = 0; i < range.length && std::size_t(range.location + i) < u.size(); ++i)
        buffer[i] = UniChar(u[std::size_t(range.location + i)]);
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
    const __CFString* s = str(theString);
    if (!s || !buffer || bufferSize <= 0)
        return false;
    auto bytes = encode(s->utf8, encoding);
    if (!bytes || CFIndex(bytes->size()) + 1 > bufferSize)
        return false;
    std::memcpy(buffer, bytes->data(), bytes->size());
    buffer[bytes->size()] = 0;
    return true;
}

Boolean CFStringGetPascalString(CFStringRef theString, StringPtr buffer, CFIndex bufferSize,
                                CFStringEncoding encoding) {
    const __CFString* s = str(theString);
    if (!s || !buffer || bufferSize <= 0)
        return false;
    auto bytes = encode(s->utf8, encoding);
    if (!bytes || bytes->size() > 255 || CFIndex(bytes->size()) + 1 > bufferSize)
        return false;
    buffer[0] = UInt8(bytes->size());
    std::memcpy(buffer + 1, bytes->data(), bytes->size());
    return true;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
    return encoding == kCFStringEncodingUTF8 ? length * 3 : length;
}

CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, CFOptionFlags options) {
    const __CFString* sa = str(a);
    const __CFString* sb = str(b);
    std::u16string ua = sa ? toUtf16(sa->utf8) : std::u16string();
    std::u16string ub = sb ? toUtf16(sb->utf8) : std::u16string();
    if (options & kCFCompareCaseInsensitive) {
        for (auto* u : {&ua, &ub})
            for (auto& c : *u)
                if (c >= 'A' && c <= 'Z')
                    c = char16_t(c + 32);
    }
    int r = ua.compare(ub);
    return r < 0 ? kCFCompareLessThan : r > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo;
}

CFMutableStringRef CFStringCreateMutable(CFAllocatorRef, CFIndex) {
    return new __CFString(std::string(), true);
}

void CFStringAppend(CFMutableStringRef theString, CFStringRef appendedString) {
    const __CFString* add = str(appendedString);
    if (theString && theString->type == kStringTypeID && theString->mutableString && add)
        theString->utf8 += add->utf8;
}

void CFStringAppendCString(CFMutableStringRef theString, const char* cStr,
                           CFStringEncoding encoding) {
    if (!theString || theString->type != kStringTypeID || !theString->mutableString || !cStr)
        return;
    if (auto text = decode(cStr, encoding))
        theString->utf8 += *text;
}

// ---- URLs

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef filePath, CFURLPathStyle,
                                       Boolean isDirectory) {
    const __CFString* s = str(filePath);
    if (!s || s->utf8.empty())
        return nullptr;
    return new __CFURL(absoluteNormal(s->utf8), isDirectory);
}

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer,
                                                 CFIndex bufLen, Boolean isDirectory) {
    if (!buffer || bufLen <= 0)
        return nullptr;
    std::string p(reinterpret_cast<const char*>(buffer), std::size_t(bufLen));
    if (p.find('\0') != std::string::npos)
        return nullptr;
    return new __CFURL(absoluteNormal(p), isDirectory);
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef anURL, Boolean, UInt8* buffer,
                                         CFIndex maxBufLen) {
    const __CFURL* u = url(anURL);
    if (!u || !buffer || CFIndex(u->path.size()) + 1 > maxBufLen)
        return false;
    std::memcpy(buffer, u->path.c_str(), u->path.size() + 1);
    return true;
}

CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle) {
    const __CFURL* u = url(anURL);
    if (!u || !toolbox::text::isValidUtf8(u->path))
        return nullptr;
    return newString(u->path);
}

CFStringRef CFURLCopyLastPathComponent(CFURLRef anURL) {
    const __CFURL* u = url(anURL);
    if (!u)
        return nullptr;
    std::string leaf = u->path == "/" ? "/" : u->path.substr(u->path.rfind('/') + 1);
    if (!toolbox::text::isValidUtf8(leaf))
        return nullptr;
    return newString(leaf);
}

Boolean CFURLHasDirectoryPath(CFURLRef anURL) {
    const __CFURL* u = url(anURL);
    return u && u->isDirectory;
}

CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef, CFURLRef anURL,
                                               CFStringRef pathComponent, Boolean isDirectory) {
    const __CFURL* u = url(anURL);
    const __CFString* c = str(pathComponent);
    if (!u || !c)
        return nullptr;
    return new __CFURL(absoluteNormal(u->path + "/" + c->utf8), isDirectory);
}

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef, const FSRef* fsRef) {
    if (!fsRef || fsRef->path[0] != '/' ||
        strnlen(fsRef->path, kFSRefPathCapacity) == kFSRefPathCapacity)
        return nullptr;
    return fileURL(fsRef->path);
}

Boolean CFURLGetFSRef(CFURLRef anURL, FSRef* fsRef) {
    const __CFURL* u = url(anURL);
    if (!u || !fsRef || u->path.size() + 1 > kFSRefPathCapacity || !exists(u->path))
        return false;
    std::memcpy(fsRef->path, u->path.c_str(), u->path.size() + 1);
    return true;
}

// ---- bundles

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL) {
    const __CFURL* u = url(bundleURL);
    bool isDir = false;
    if (!u || !exists(u->path, &isDir) || !isDir)
        return nullptr;
    char* real = ::realpath(u->path.c_str(), nullptr);
    if (!real)
        return nullptr;
    std::string path = real;
    std::free(real);
    Registry& r = registry();
    {
        std::lock_guard g(r.lock);
        for (__CFBundle* b : r.bundles)
            if (b->path == path) {
                b->refs.fetch_add(1);
                return b;
            }
    }
    auto* b = new __CFBundle;
    b->path = path;
    readInfoPlist(b);
    std::lock_guard g(r.lock);
    for (__CFBundle* other : r.bundles)
        if (other->path == path) { // created meanwhile by another thread
            other->refs.fetch_add(1);
            delete b;
            return other;
        }
    r.bundles.push_back(b);
    return b;
}

CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID) {
    const __CFString* id = str(bundleID);
    if (!id)
        return nullptr;
    Registry& r = registry();
    std::lock_guard g(r.lock);
    for (__CFBundle* b : r.bundles)
        if (infoString(b, "CFBundleIdentifier") == id->utf8 && !id->utf8.empty())
            return b;
    return nullptr;
}

CFStringRef CFBundleGetIdentifier(CFBundleRef theBundle) {
    return CFStringRef(
        CFBundleGetValueForInfoDictionaryKey(theBundle, CFSTR("CFBundleIdentifier")));
}

CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef theBundle, CFStringRef key) {
    __CFBundle* b = bundle(theBundle);
    const __CFString* k = str(key);
    if (!b || !k)
        return nullptr;
    auto it = b->strings.find(k->utf8);
    return it == b->strings.end() ? nullptr : it->second;
}

CFURLRef CFBundleCopyBundleURL(CFBundleRef theBundle) {
    __CFBundle* b = bundle(theBundle);
    return b ? new __CFURL(b->path, true) : nullptr;
}

CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef theBundle) {
    __CFBundle* b = bundle(theBundle);
    return b ? new __CFURL(b->path + "/Contents/Resources", true) : nullptr;
}

CFURLRef CFBundleCopyExecutableURL(CFBundleRef theBundle) {
    __CFBundle* b = bundle(theBundle);
    if (!b)
        return nullptr;
    std::string exe = infoString(b, "CFBundleExecutable");
    if (exe.empty() || exe.find('/') != std::string::npos)
        return nullptr;
    std::string p = b->path + "/Contents/Linux/" + exe;
    bool isDir = true;
    return exists(p, &isDir) && !isDir ? new __CFURL(p, false) : nullptr;
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef theBundle, CFStringRef resourceName,
                                 CFStringRef resourceType, CFStringRef subDirName) {
    __CFBundle* b = bundle(theBundle);
    const __CFString* name = str(resourceName);
    if (!b || !name || name->utf8.empty())
        return nullptr;
    std::string file = name->utf8;
    if (const __CFString* type = str(resourceType); type && !type->utf8.empty())
        file += (type->utf8.front() == '.' ? "" : ".") + type->utf8;
    std::string sub;
    if (const __CFString* s = str(subDirName); s && !s->utf8.empty())
        sub = s->utf8 + "/";
    // A resource name never leaves the bundle's resources.
    for (const auto& part : fs::path(sub + file))
        if (part == "..")
            return nullptr;
    const std::string resources = b->path + "/Contents/Resources/";
    for (const char* place : {"", "Base.lproj/", "en.lproj/", "English.lproj/"}) {
        std::string p = resources + place + sub + file;
        if (exists(p))
            return fileURL(absoluteNormal(p));
    }
    return nullptr;
}

ResFileRefNum CFBundleOpenBundleResourceMap(CFBundleRef theBundle) {
    __CFBundle* b = bundle(theBundle);
    if (!b)
        return kResFileNotOpened;
    std::vector<std::string> names;
    for (const char* key : {"CFBundleExecutable", "CFBundleName"})
        if (std::string n = infoString(b, key); !n.empty() && n.find('/') == std::string::npos)
            names.push_back(n);
    std::string dirName = fs::path(b->path).stem().string();
    if (!dirName.empty())
        names.push_back(dirName);
    for (const auto& n : names) {
        std::string p = b->path + "/Contents/Resources/" + n + ".rsrc";
        if (exists(p))
            return toolbox::rsrc::openResourceFile(p, toolbox::rsrc::Fork::data, fsRdPerm);
    }
    return kResFileNotOpened;
}

void CFBundleCloseBundleResourceMap(CFBundleRef, ResFileRefNum refNum) {
    CloseResFile(refNum);
}

Boolean CFBundleLoadExecutable(CFBundleRef theBundle) {
    __CFBundle* b = bundle(theBundle);
    if (!b)
        return false;
    if (b->library)
        return true;
    const toolbox::cf::CFRef<CFURLRef> exe(CFBundleCopyExecutableURL(b));
    if (!exe) {
        gLastLoadError = "the bundle has no executable";
        return false;
    }
    std::string p = url(exe.get())->path;
    b->library = ::dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!b->library) {
        const char* e = ::dlerror();
        gLastLoadError = e ? e : "dlopen failed";
        return false;
    }
    return true;
}

Boolean CFBundleIsExecutableLoaded(CFBundleRef theBundle) {
    __CFBundle* b = bundle(theBundle);
    return b && b->library;
}

void CFBundleUnloadExecutable(CFBundleRef theBundle) {
    __CFBundle* b = bundle(theBundle);
    if (b && b->library) {
        ::dlclose(b->library);
        b->library = nullptr;
    }
}

void* CFBundleGetFunctionPointerForName(CFBundleRef theBundle, CFStringRef functionName) {
    __CFBundle* b = bundle(theBundle);
    const __CFString* name = str(functionName);
    if (!b || !name || !CFBundleLoadExecutable(b))
        return nullptr;
    ::dlerror();
    void* sym = ::dlsym(b->library, name->utf8.c_str());
    if (!sym) {
        const char* e = ::dlerror();
        gLastLoadError = e ? e : "symbol not found";
    }
    return sym;
}

namespace toolbox::cf {

std::string utf8(CFStringRef s) {
    const __CFString* p = str(s);
    return p ? p->utf8 : std::string();
}

CFStringRef makeString(const std::string& text) {
    return toolbox::text::isValidUtf8(text) ? newString(text) : nullptr;
}

std::string path(CFURLRef u) {
    const __CFURL* p = url(u);
    return p ? p->path : std::string();
}

std::string lastLoadError() {
    return gLastLoadError;
}

} // namespace toolbox::cf
