// The description the plug-in writes into the host's block, with string lists of the
// test's own making: long texts are cut to their fields, missing lists give empty texts,
// and list 129 gives each slider its pair of end labels in order.
#include "HYPlugin.h"
#include "Resources.h"
#include "TestSupport.h"
#include "iMovieGlue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

toolbox::rsrc::Resource StringList(SInt16 id, const std::vector<std::string>& texts) {
    toolbox::rsrc::Resource r;
    r.type = FOUR_CHAR_CODE("STR#");
    r.id = id;
    r.data.push_back(UInt8(texts.size() >> 8));
    r.data.push_back(UInt8(texts.size()));
    for (const std::string& t : texts) {
        r.data.push_back(UInt8(t.size()));
        r.data.insert(r.data.end(), t.begin(), t.end());
    }
    return r;
}

// Writes the lists into a resource file and makes it the current resource file.
class StringLists {
  public:
    explicit StringLists(const std::vector<toolbox::rsrc::Resource>& lists) {
        toolbox::rsrc::ResourceMap map;
        map.resources = lists;
        std::vector<UInt8> bytes;
        EXPECT_EQ(map.serialize(bytes), noErr);
        path_ = (home_.dir() / "lists.rsrc").string();
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        ref_ = toolbox::rsrc::openResourceFile(path_, toolbox::rsrc::Fork::data, fsRdPerm);
        EXPECT_NE(ref_, kResFileNotOpened);
    }
    ~StringLists() { CloseResFile(ref_); }

  private:
    tessera_test::TempConfigHome home_;
    std::string path_;
    ResFileRefNum ref_ = kResFileNotOpened;
};

TEST(Description, TextsComeFromTheListsAndAreCutToTheirFields) {
    const std::string longLabel(200, 'L');
    const std::string longTitle(40, 'T');
    StringLists lists({StringList(128, {longLabel, "Block height", "Opacity"}),
                       StringList(129, {"a1", "a2", "b1", "b2", "c1", "c2"}),
                       StringList(130, {longTitle})});
    _PluginParams params{};
    params.getInfo2.selectedFrames = 75;
    params.getInfo.pluginFlags = 0x4;
    EXPECT_EQ(EffectGetInfos(0, &params), kPluginOK);

    const HY2PluginGetInfo& info2 = params.getInfo2;
    EXPECT_EQ(std::string(info2.filterSliders[0].label), std::string(127, 'L'));
    EXPECT_STREQ(info2.filterSliders[1].label, "Block height");
    EXPECT_STREQ(info2.filterSliders[0].minLabel, "a1");
    EXPECT_STREQ(info2.filterSliders[0].maxLabel, "a2");
    EXPECT_STREQ(info2.filterSliders[1].minLabel, "b1");
    EXPECT_STREQ(info2.filterSliders[1].maxLabel, "b2");
    EXPECT_STREQ(info2.filterSliders[2].minLabel, "c1");
    EXPECT_STREQ(info2.filterSliders[2].maxLabel, "c2");
    EXPECT_EQ(std::string(params.getInfo3.buttonTitle), std::string(31, 'T'));
    EXPECT_EQ(info2.group[0], '\0'); // list 17000 is missing
    EXPECT_EQ(params.getInfo.pluginFlags, 0x1384u);
    EXPECT_EQ(params.getInfo.framesToBeRendered, 75);
    EXPECT_EQ(params.getInfo.takeFromClipAfter, 75);
    EXPECT_EQ(info2.baseMemoryNeeded, 50000);
}

TEST(Description, MissingListsGiveEmptyTexts) {
    _PluginParams params{};
    std::memset(params.getInfo2.filterSliders[0].label, 'x', 10);
    std::memset(params.getInfo3.buttonTitle, 'x', 10);
    EXPECT_EQ(EffectGetInfos(0, &params), kPluginOK);
    for (const HYPluginFilterSliderInfo& s : params.getInfo2.filterSliders) {
        EXPECT_EQ(s.label[0], '\0');
        EXPECT_EQ(s.minLabel[0], '\0');
        EXPECT_EQ(s.maxLabel[0], '\0');
        EXPECT_EQ(s.defaultValue, 0.5f);
    }
    EXPECT_EQ(params.getInfo3.buttonTitle[0], '\0');
    EXPECT_EQ(params.getInfo2.group[0], '\0');
    EXPECT_EQ(params.getInfo.pluginType, kPluginFilterType);
}

} // namespace
