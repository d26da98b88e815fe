// Tests of rezc: what the language compiles to, the errors it reports with their positions,
// the program end to end on real files, and the plug-in's own string lists.
#include "RezCompiler.h"

#include "TestFiles.h"
#include "TextUtils.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

std::string text(const std::vector<UInt8>& v) {
    return {v.begin(), v.end()};
}

// The texts of a compiled 'STR#' list.
std::vector<std::string> listTexts(const toolbox::rsrc::Resource& r) {
    std::vector<std::string> out;
    const auto& d = r.data;
    std::size_t count = (std::size_t(d.at(0)) << 8) | d.at(1), pos = 2;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t n = d.at(pos);
        out.emplace_back(d.begin() + std::ptrdiff_t(pos + 1),
                         d.begin() + std::ptrdiff_t(pos + 1 + n));
        pos += 1 + n;
    }
    EXPECT_EQ(pos, d.size());
    return out;
}

std::string errorOf(const std::string& source) {
    rezc::Result r = rezc::compile(source, "in.r");
    EXPECT_FALSE(r.ok);
    return r.error;
}

TEST(RezLanguage, StringListsAndOtherResources) {
    rezc::Result r = rezc::compile(R"(
        // comment
        resource 'STR#' (128, "Slider labels") { "Block width"; "Opacity" };
        /* a block
           comment */
        resource 'STR ' (5, purgeable, "One") { "Café" };
        resource 'TEXT' (-3) { "ab" $"00 ff 0D" "\"q\"\x8E" };
    )",
                                   "in.r");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.map.resources.size(), 3u);
    const auto* list = r.map.find(FOUR_CHAR_CODE("STR#"), 128);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->name, std::optional<std::string>("Slider labels"));
    EXPECT_EQ(listTexts(*list), (std::vector<std::string>{"Block width", "Opacity"}));
    const auto* one = r.map.find(FOUR_CHAR_CODE("STR "), 5);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(text(one->data), "\x04"
                               "Caf\x8E"); // é becomes Mac Roman 0x8E
    EXPECT_EQ(one->attributes, resPurgeable);
    const auto* raw = r.map.find(FOUR_CHAR_CODE("TEXT"), -3);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(text(raw->data), std::string("ab\x00\xff\x0d\"q\"\x8E", 9));
}

TEST(RezLanguage, ErrorsNameTheLineAndColumn) {
    EXPECT_EQ(errorOf("resource 'STR' (1) { };"),
              "in.r:1:10: error: a resource type has exactly four characters ('STR')");
    EXPECT_EQ(errorOf("resource 'STR#' (1) {\n  \"open;\n};"),
              "in.r:2:3: error: text is not closed (missing '\"')");
    EXPECT_EQ(errorOf("resource 'STR#' (1) { \"a\" \"b\" };"),
              "in.r:1:27: error: expected ';' between the texts of a string list but found '\"'");
    EXPECT_EQ(errorOf("resource 'STR#' (1) { \"a\" }"),
              "in.r:1:28: error: expected ';' after the resource's '}' but the file ends");
    EXPECT_EQ(errorOf("resource 'STR#' (1) { };\nresource 'STR#' (1) { };"),
              "in.r:2:18: error: resource 1 of this type is already defined");
    EXPECT_EQ(errorOf("resource 'STR#' (40000) { };"),
              "in.r:1:18: error: resource ID 40000 is outside -32768 to 32767");
    EXPECT_EQ(errorOf("resource 'STR#' (1) { \"\xE6\x97\xA5\" };"),
              "in.r:1:23: error: text has a character that Mac Roman cannot hold");
    EXPECT_EQ(errorOf("resource 'STR#' (1, shiny) { };"),
              "in.r:1:21: error: unknown attribute \"shiny\"");
    EXPECT_EQ(errorOf("/* never closed\nresource"),
              "in.r:1:1: error: comment is not closed (missing \"*/\")");
    EXPECT_EQ(errorOf("data 'STR#' (1) { };"),
              "in.r:1:1: error: expected \"resource\" but found \"data\"");
    EXPECT_EQ(errorOf("resource 'STR#' (1) { \"" + std::string(256, 'x') + "\" };"),
              "in.r:1:23: error: a text of a string list has at most 255 characters");
    EXPECT_EQ(errorOf("resource 'TEXT' (1) { $\"abc\" };"),
              "in.r:1:23: error: hexadecimal block has an odd number of digits");
}

class RezProgram : public ::testing::Test {
  protected:
    testfs::TempFolder folder{"rezc-test"};
    const std::filesystem::path dir = folder.dir();

    // Runs rezc with arguments; returns the exit status and fills err with standard error.
    int run(const std::string& args, std::string& err) {
        std::string errFile = (dir / "stderr.txt").string();
        std::string cmd = std::string(REZC_PATH) + " " + args + " 2>" + errFile;
        int status = std::system(cmd.c_str());
        std::ifstream in(errFile);
        err.assign(std::istreambuf_iterator<char>(in), {});
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(RezProgram, CompilesAFileIntoAResourceFile) {
    std::ofstream(dir / "in.r")
        << "resource 'STR#' (130, \"Button\") { \"Region\xE2\x80\xA6\"; };\n";
    std::string err;
    ASSERT_EQ(run((dir / "in.r").string() + " -o " + (dir / "out.rsrc").string(), err), 0) << err;
    std::ifstream in(dir / "out.rsrc", std::ios::binary);
    std::vector<UInt8> bytes((std::istreambuf_iterator<char>(in)), {});
    toolbox::rsrc::ResourceMap map;
    ASSERT_EQ(toolbox::rsrc::ResourceMap::parse(bytes, map), noErr);
    ASSERT_EQ(map.resources.size(), 1u);
    EXPECT_EQ(listTexts(map.resources[0]), (std::vector<std::string>{"Region\xC9"}));
    EXPECT_EQ(run("--list " + (dir / "out.rsrc").string() + " >/dev/null", err), 0);
}

TEST_F(RezProgram, AnErrorWritesNoOutput) {
    std::ofstream(dir / "bad.r") << "resource 'STR#' (1) {\n  \"x\"\n  \"y\";\n};\n";
    std::string err;
    EXPECT_EQ(run((dir / "bad.r").string() + " -o " + (dir / "out.rsrc").string(), err), 1);
    EXPECT_NE(err.find("bad.r:3:3: error: expected ';' between the texts"), std::string::npos)
        << err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.rsrc"));
    EXPECT_EQ(run((dir / "none.r").string() + " -o " + (dir / "out.rsrc").string(), err), 1);
    EXPECT_NE(err.find("cannot read"), std::string::npos);
    EXPECT_EQ(run("", err), 2); // usage
}

// The string lists made for each bundle from tessera/bundle/strings.r.in.
TEST(TesseraStrings, EachBundlesListsAreComplete) {
    for (const char* name : {"Tessera.r", "TesseraMotion.r"}) {
        std::ifstream in(std::string(TESSERA_STRINGS_DIR) + "/" + name);
        std::string source((std::istreambuf_iterator<char>(in)), {});
        ASSERT_FALSE(source.empty()) << name;
        rezc::Result r = rezc::compile(source, name);
        ASSERT_TRUE(r.ok) << name << ": " << r.error;
        auto texts = [&](ResID id) {
            const auto* res = r.map.find(FOUR_CHAR_CODE("STR#"), id);
            return res ? listTexts(*res) : std::vector<std::string>{};
        };
        EXPECT_EQ(texts(128), (std::vector<std::string>{"Block width", "Block height", "Opacity"}));
        EXPECT_EQ(texts(129).size(), 6u);
        ASSERT_EQ(texts(130).size(), 1u);
        EXPECT_LE(texts(130)[0].size(), 31u); // the host's button title field
        EXPECT_EQ(texts(17000), (std::vector<std::string>{"Tessera"}));
        for (ResID id : {128, 129, 17000})
            for (const auto& t : texts(id))
                EXPECT_LE(t.size(), 127u);
    }
}

} // namespace
