// Tests of Core Foundation strings, URLs and bundles: Mac Roman and UTF-8 text, reference
// counts, and bundles made in a temporary folder with an XML or a binary Info.plist.
#include "CoreFoundation.h"
#include "ResFixtures.h"
#include "TextUtils.h"

#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

using namespace restest;

namespace {

// A binary property list (bplist00) holding one dictionary of ASCII strings.
std::string binaryPlist(const std::map<std::string, std::string>& dict) {
    std::vector<std::string> objects;
    std::string d(1, char(0xD0 | dict.size()));
    std::vector<std::string> keys, values;
    for (auto& [k, v] : dict) {
        keys.push_back(k);
        values.push_back(v);
    }
    auto stringObject = [](const std::string& s) {
        std::string o;
        if (s.size() < 15) {
            o += char(0x50 | s.size());
        } else {
            o += char(0x5F);
            o += char(0x10);
            o += char(s.size());
        }
        return o + s;
    };
    for (std::size_t i = 0; i < keys.size(); ++i)
        d += char(1 + i);
    for (std::size_t i = 0; i < values.size(); ++i)
        d += char(1 + keys.size() + i);
    objects.push_back(d);
    for (auto& k : keys)
        objects.push_back(stringObject(k));
    for (auto& v : values)
        objects.push_back(stringObject(v));
    std::string out = "bplist00";
    std::vector<std::size_t> offsets;
    for (auto& o : objects) {
        offsets.push_back(out.size());
        out += o;
    }
    std::size_t table = out.size();
    for (auto off : offsets)
        out += char(off);
    std::string trailer(32, '\0');
    trailer[6] = 1; // offset size
    trailer[7] = 1; // object reference size
    trailer[15] = char(objects.size());
    trailer[31] = char(table);
    return out + trailer;
}

std::string xmlPlist(const std::map<std::string, std::string>& dict) {
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                    "<plist version=\"1.0\">\n<dict>\n";
    for (auto& [k, v] : dict)
        x += "  <key>" + k + "</key>\n  <string>" + v + "</string>\n";
    x += "  <key>CFBundleSupportedPlatforms</key>\n  <array><string>Linux</string></array>\n";
    return x + "</dict>\n</plist>\n";
}

// A bundle directory Name.bundle/Contents/... in a temporary folder.
struct BundleDir {
    TempDir dir;
    std::string path;
    explicit BundleDir(const std::string& infoPlist, const std::string& name = "Test.bundle") {
        path = dir / name;
        std::filesystem::create_directories(path + "/Contents/Resources/sub");
        std::filesystem::create_directories(path + "/Contents/Resources/en.lproj");
        std::filesystem::create_directories(path + "/Contents/Linux");
        WriteAll(path + "/Contents/Info.plist", infoPlist);
        WriteAll(path + "/Contents/Resources/manual.pdf", "%PDF-1.4");
        WriteAll(path + "/Contents/Resources/sub/inner.txt", "x");
        WriteAll(path + "/Contents/Resources/en.lproj/Localizable.strings", "x");
        std::filesystem::create_directories(path + "/Contents/Resources/tessera.nib");
    }
    CFBundleRef create() const {
        CFURLRef url = CFURLCreateFromFileSystemRepresentation(
            kCFAllocatorDefault, reinterpret_cast<const UInt8*>(path.c_str()), CFIndex(path.size()),
            true);
        CFBundleRef b = CFBundleCreate(kCFAllocatorDefault, url);
        CFRelease(url);
        return b;
    }
};

TEST(CFString, MacRomanPascalStringsBecomeUnicode) {
    const unsigned char p[] = {3, 0x8E, 0xC9, 0xAA}; // é … ™ in Mac Roman
    CFStringRef s =
        CFStringCreateWithPascalString(kCFAllocatorDefault, p, kCFStringEncodingMacRoman);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFStringGetLength(s), 3);
    EXPECT_EQ(CFStringGetCharacterAtIndex(s, 1), 0x2026);
    char utf8[16];
    ASSERT_TRUE(CFStringGetCString(s, utf8, sizeof utf8, kCFStringEncodingUTF8));
    EXPECT_STREQ(utf8, "\xC3\xA9\xE2\x80\xA6\xE2\x84\xA2");
    Str255 back;
    ASSERT_TRUE(CFStringGetPascalString(s, back, sizeof back, kCFStringEncodingMacRoman));
    EXPECT_EQ(std::memcmp(back, p, sizeof p), 0);
    EXPECT_FALSE(CFStringGetCString(s, utf8, 8, kCFStringEncodingUTF8)); // 8 bytes + NUL
    EXPECT_FALSE(CFStringGetCString(s, utf8, sizeof utf8, kCFStringEncodingASCII));
    CFRelease(s);
}

TEST(CFString, TextsMacRomanCannotHoldAreRefused) {
    CFStringRef s = CFStringCreateWithCString(
        kCFAllocatorDefault, "\xE6\x97\xA5 and \xF0\x9F\x98\x80", kCFStringEncodingUTF8);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFStringGetLength(s), 1 + 5 + 2); // the emoji takes two UTF-16 units
    Str255 p;
    EXPECT_FALSE(CFStringGetPascalString(s, p, sizeof p, kCFStringEncodingMacRoman));
    CFRelease(s);
    EXPECT_EQ(CFStringCreateWithCString(kCFAllocatorDefault, "\xC3", kCFStringEncodingUTF8),
              nullptr);
    CFStringRef longText = toolbox::cf::makeString(std::string(256, 'a'));
    EXPECT_FALSE(CFStringGetPascalString(longText, p, sizeof p, kCFStringEncodingMacRoman));
    CFRelease(longText);
}

TEST(CFString, UTF16AndComparison) {
    const UniChar chars[] = {'T', 0xE9, 0xD83D, 0xDE00};
    CFStringRef s = CFStringCreateWithCharacters(kCFAllocatorDefault, chars, 4);
    EXPECT_EQ(toolbox::cf::utf8(s), "T\xC3\xA9\xF0\x9F\x98\x80");
    UniChar out[4] = {};
    CFStringGetCharacters(s, CFRangeMake(0, 4), out);
    EXPECT_EQ(std::memcmp(out, chars, sizeof chars), 0);
    const UniChar lone[] = {0xD800};
    EXPECT_EQ(CFStringCreateWithCharacters(kCFAllocatorDefault, lone, 1), nullptr);
    EXPECT_EQ(CFStringCompare(CFSTR("abc"), CFSTR("abd"), 0), kCFCompareLessThan);
    EXPECT_EQ(CFStringCompare(CFSTR("ABC"), CFSTR("abc"), kCFCompareCaseInsensitive),
              kCFCompareEqualTo);
    EXPECT_TRUE(CFEqual(CFSTR("T\xC3\xA9\xF0\x9F\x98\x80"), s));
    CFRelease(s);
    CFMutableStringRef m = CFStringCreateMutable(kCFAllocatorDefault, 0);
    CFStringAppend(m, CFSTR("LSOpen failed with "));
    CFStringAppendCString(m, "-43", kCFStringEncodingASCII);
    EXPECT_EQ(toolbox::cf::utf8(m), "LSOpen failed with -43");
    CFRelease(m);
}

TEST(CFObjects, RetainCountsAndConstantStrings) {
    CFStringRef s = toolbox::cf::makeString("counted");
    EXPECT_EQ(CFGetRetainCount(s), 1);
    EXPECT_EQ(CFRetain(s), s);
    EXPECT_EQ(CFGetRetainCount(s), 2);
    CFRelease(s);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    CFRelease(s);
    CFRelease(nullptr); // harmless
    EXPECT_EQ(CFSTR("same"), CFSTR("same"));
    CFRelease(CFSTR("same")); // constant strings are never freed
    EXPECT_EQ(toolbox::cf::utf8(CFSTR("same")), "same");
    EXPECT_EQ(CFGetTypeID(CFSTR("x")), CFStringGetTypeID());
}

TEST(CFURL, PathsAreAbsoluteAndRoundTrip) {
    CFURLRef u = CFURLCreateWithFileSystemPath(kCFAllocatorDefault, CFSTR("rel/./file.txt"),
                                               kCFURLPOSIXPathStyle, false);
    std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(toolbox::cf::path(u), cwd + "/rel/file.txt");
    CFStringRef leaf = CFURLCopyLastPathComponent(u);
    EXPECT_EQ(toolbox::cf::utf8(leaf), "file.txt");
    CFRelease(leaf);
    FSRef ref;
    EXPECT_FALSE(CFURLGetFSRef(u, &ref)); // it does not exist
    CFURLRef v = CFURLCreateCopyAppendingPathComponent(kCFAllocatorDefault, u, CFSTR("x"), false);
    EXPECT_EQ(toolbox::cf::path(v), cwd + "/rel/file.txt/x");
    UInt8 small[4];
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(u, true, small, sizeof small));
    CFRelease(v);
    CFRelease(u);
}

class CFBundleFormats : public ::testing::TestWithParam<bool> {};

TEST_P(CFBundleFormats, ReadsInfoPlistAndFindsResources) {
    std::map<std::string, std::string> info{{"CFBundleIdentifier", "com.example.res-test"},
                                            {"CFBundleExecutable", "Test"},
                                            {"CFBundleName", "Test"},
                                            {"CFBundleShortVersionString", "3.0.0"}};
    BundleDir bd(GetParam() ? binaryPlist(info) : xmlPlist(info));
    CFBundleRef b = bd.create();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(toolbox::cf::utf8(CFBundleGetIdentifier(b)), "com.example.res-test");
    EXPECT_EQ(toolbox::cf::utf8(CFStringRef(
                  CFBundleGetValueForInfoDictionaryKey(b, CFSTR("CFBundleShortVersionString")))),
              "3.0.0");
    EXPECT_EQ(CFBundleGetValueForInfoDictionaryKey(b, CFSTR("CFBundleSupportedPlatforms")),
              nullptr);
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(CFSTR("com.example.res-test")), b);

    CFURLRef manual = CFBundleCopyResourceURL(b, CFSTR("manual"), CFSTR("pdf"), nullptr);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(toolbox::cf::path(manual), bd.path + "/Contents/Resources/manual.pdf");
    FSRef ref;
    EXPECT_TRUE(CFURLGetFSRef(manual, &ref));
    CFRelease(manual);
    CFURLRef inner = CFBundleCopyResourceURL(b, CFSTR("inner"), CFSTR("txt"), CFSTR("sub"));
    EXPECT_NE(inner, nullptr);
    CFRelease(inner);
    CFURLRef nib = CFBundleCopyResourceURL(b, CFSTR("tessera"), CFSTR("nib"), nullptr);
    ASSERT_NE(nib, nullptr);
    EXPECT_TRUE(CFURLHasDirectoryPath(nib));
    CFRelease(nib);
    CFURLRef localized =
        CFBundleCopyResourceURL(b, CFSTR("Localizable"), CFSTR("strings"), nullptr);
    EXPECT_NE(localized, nullptr);
    CFRelease(localized);
    EXPECT_EQ(CFBundleCopyResourceURL(b, CFSTR("missing"), CFSTR("pdf"), nullptr), nullptr);
    EXPECT_EQ(CFBundleCopyResourceURL(b, CFSTR("../Info"), CFSTR("plist"), nullptr), nullptr);
    EXPECT_EQ(CFBundleCopyExecutableURL(b), nullptr); // Contents/Linux/Test is missing
    CFURLRef res = CFBundleCopyResourcesDirectoryURL(b);
    EXPECT_EQ(toolbox::cf::path(res), bd.path + "/Contents/Resources");
    CFRelease(res);

    CFBundleRef again = bd.create(); // the same bundle, retained once more
    EXPECT_EQ(again, b);
    CFRelease(again);
    CFRelease(b);
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(CFSTR("com.example.res-test")), nullptr);
}

INSTANTIATE_TEST_SUITE_P(XmlAndBinary, CFBundleFormats, ::testing::Values(false, true));

TEST(CFBundle, MissingDirectoryOrInfoPlist) {
    TempDir dir;
    CFStringRef path = toolbox::cf::makeString(dir / "none.bundle");
    CFURLRef url =
        CFURLCreateWithFileSystemPath(kCFAllocatorDefault, path, kCFURLPOSIXPathStyle, true);
    CFRelease(path);
    EXPECT_EQ(CFBundleCreate(kCFAllocatorDefault, url), nullptr);
    CFRelease(url);
    BundleDir broken("<plist><dict><key>unclosed");
    CFBundleRef b = broken.create();
    ASSERT_NE(b, nullptr); // a bundle without usable keys
    EXPECT_EQ(CFBundleGetIdentifier(b), nullptr);
    CFRelease(b);
}

TEST(CFBundle, ResourceMapAndExecutable) {
    BundleDir bd(xmlPlist(
        {{"CFBundleIdentifier", "com.example.res-exec"}, {"CFBundleExecutable", "Tessera"}}));
    toolbox::rsrc::ResourceMap m;
    m.resources.push_back(makeResource(FOUR_CHAR_CODE("STR#"), 17000, strList({"Tessera"})));
    writeResourceFile(bd.path + "/Contents/Resources/Tessera.rsrc", m);
    // Any shared library will do as the executable: here the C library.
    Dl_info where{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&::getpid), &where), 0);
    std::filesystem::create_symlink(where.dli_fname, bd.path + "/Contents/Linux/Tessera");

    CFBundleRef b = bd.create();
    ResFileRefNum saved = CurResFile();
    ResFileRefNum ref = CFBundleOpenBundleResourceMap(b);
    ASSERT_NE(ref, kResFileNotOpened);
    EXPECT_EQ(CurResFile(), ref);
    Str255 s;
    GetIndString(s, 17000, 1);
    EXPECT_EQ(fromP(s), "Tessera");
    CFBundleCloseBundleResourceMap(b, ref);
    EXPECT_EQ(CurResFile(), saved);

    CFURLRef exe = CFBundleCopyExecutableURL(b);
    ASSERT_NE(exe, nullptr);
    CFRelease(exe);
    EXPECT_FALSE(CFBundleIsExecutableLoaded(b));
    auto fn = reinterpret_cast<pid_t (*)()>(CFBundleGetFunctionPointerForName(b, CFSTR("getpid")));
    ASSERT_NE(fn, nullptr);
    EXPECT_TRUE(CFBundleIsExecutableLoaded(b));
    EXPECT_EQ(fn(), ::getpid());
    EXPECT_EQ(CFBundleGetFunctionPointerForName(b, CFSTR("no_such_symbol_here")), nullptr);
    EXPECT_FALSE(toolbox::cf::lastLoadError().empty());
    CFBundleUnloadExecutable(b);
    CFRelease(b);
}

} // namespace
