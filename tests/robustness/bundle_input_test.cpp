// Damaged bundle files: Info.plists that once ended the process inside libplist (texts with
// NUL bytes in them, found by the Info.plist fuzzer) now give a bundle without keys.
#include "CoreFoundation.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class BundleDir {
  public:
    explicit BundleDir(const std::string& plistBytes) {
        dir_ = folder_.dir() / "Damaged.bundle";
        fs::create_directories(dir_ / "Contents" / "Resources");
        std::ofstream(dir_ / "Contents" / "Info.plist", std::ios::binary) << plistBytes;
    }
    CFBundleRef open() const {
        CFURLRef url = CFURLCreateFromFileSystemRepresentation(
            kCFAllocatorDefault, reinterpret_cast<const UInt8*>(dir_.c_str()),
            CFIndex(dir_.string().size()), true);
        CFBundleRef b = CFBundleCreate(kCFAllocatorDefault, url);
        CFRelease(url);
        return b;
    }

  private:
    tessera_test::TempFolder folder_{"tessera-bundle"};
    fs::path dir_;
};

std::string Fixture(const char* name) {
    std::ifstream f(fs::path(ROBUST_DATA_DIR) / name, std::ios::binary);
    EXPECT_TRUE(f.good()) << name;
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

TEST(DamagedInfoPlist, BinaryPlistWithNulInAKeyOpensWithoutKeys) {
    BundleDir dir(Fixture("infoplist-nul-in-key.bplist"));
    CFBundleRef b = dir.open();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(CFBundleGetIdentifier(b), nullptr);
    CFRelease(b);
}

TEST(DamagedInfoPlist, BinaryPlistWithNulInAStringOpensWithoutKeys) {
    BundleDir dir(Fixture("infoplist-nul-in-string.bplist"));
    CFBundleRef b = dir.open();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(CFBundleGetIdentifier(b), nullptr);
    CFRelease(b);
}

TEST(DamagedInfoPlist, XmlPlistWithARawNulOpensWithoutKeys) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                      "<key>CFBundleIdentifier</key><string>org.x</string>"
                      "<key>CFBundleName</key><string>a";
    xml.push_back('\0');
    xml += "b</string></dict></plist>\n";
    BundleDir dir(xml);
    CFBundleRef b = dir.open();
    ASSERT_NE(b, nullptr);
    CFRelease(b);
}

TEST(DamagedInfoPlist, SoundPlistStillGivesItsKeys) {
    BundleDir dir("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                  "<key>CFBundleIdentifier</key><string>org.tessera.robust.sound</string>"
                  "<key>CFBundleName</key><string>Sound</string></dict></plist>\n");
    CFBundleRef b = dir.open();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(toolbox::cf::utf8(CFBundleGetIdentifier(b)), "org.tessera.robust.sound");
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(CFSTR("org.tessera.robust.sound")), b);
    CFRelease(b);
}

} // namespace
