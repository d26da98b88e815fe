// The track file through its public routines: a good file survives writing and reading, every
// kind of damage is refused with one line naming the file, host times find their frames, and
// the MLT keyframes hold each id's place on every frame.
#include "TestFiles.h"
#include "TrackFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace tessera::tracks;

Track TwoRegionTrack() {
    Track t;
    t.clip = {"walk.mp4", 3, 1280, 720, 30000, 1001};
    for (int i = 0; i < 3; ++i) {
        TrackFrame f;
        f.index = i;
        f.time = i * 1001.0 / 30000.0;
        if (i != 1) {
            f.regions.push_back({2, -0.05 + i * 0.1, 0.2, 0.1, 0.15, 0.5, i == 2});
        }
        f.regions.push_back({1, 0.3, 0.2, 0.1 + i * 0.01, 0.15, 0.93, false});
        t.frames.push_back(f);
    }
    return t;
}

TEST(TrackFile, GoodFileSurvivesWritingAndReadingRegionsInIdOrder) {
    testfs::TempFolder dir;
    const Track t = TwoRegionTrack();
    WriteTrackFile(t, dir / "t.json");
    const Track back = ReadTrackFile(dir / "t.json");
    EXPECT_EQ(back.clip.file, "walk.mp4");
    EXPECT_EQ(back.clip.rateNum, 30000);
    ASSERT_EQ(back.frames.size(), 3u);
    ASSERT_EQ(back.frames[0].regions.size(), 2u);
    EXPECT_EQ(back.frames[0].regions[0].id, 1); // written 2 then 1, drawn 1 then 2
    EXPECT_EQ(back.frames[0].regions[1].left, -0.05);
    EXPECT_EQ(back.frames[2].regions[0].width, 0.1 + 2 * 0.01);
    EXPECT_TRUE(back.frames[2].regions[1].review);
    EXPECT_EQ(back.frames[1].time, 1001.0 / 30000.0);
    EXPECT_EQ(ReviewFrameCount(back), 1);
    const std::string text = FormatTrack(back);
    EXPECT_EQ(FormatTrack(ParseTrack(text, "again")), text); // stable order and values
}

TEST(TrackFile, UnknownKeysAndOptionalFieldsAreTolerated) {
    const Track t = ParseTrack(R"({"format":"tessera-track","version":1,"tool":"hand",
        "clip":{"frames":1,"extra":[1]},
        "frames":[{"index":0,"time":0,"regions":[{"id":7,"rect":[0,0,1,1],"note":"x"}]}]})",
                               "hand.json");
    ASSERT_EQ(t.frames[0].regions.size(), 1u);
    EXPECT_EQ(t.frames[0].regions[0].confidence, 1.0);
    EXPECT_FALSE(t.frames[0].regions[0].review);
}

TEST(TrackFile, EachDamageIsRefusedWithOneLineNamingTheFile) {
    const std::string head = R"({"format":"tessera-track","version":1,"clip":{"frames":1},)";
    const std::string good =
        R"("frames":[{"index":0,"time":0,"regions":[{"id":1,"rect":[0,0,1,1]}]}]})";
    const struct {
        std::string text, says;
    } bad[] = {
        {"{", "not JSON"},
        {"[1]", "not a JSON object"},
        {R"({"format":"other","version":1,"clip":{"frames":0},"frames":[]})", "not a track file"},
        {R"({"version":1,"clip":{"frames":0},"frames":[]})", "format is missing"},
        {R"({"format":"tessera-track","version":2,"clip":{"frames":0},"frames":[]})", "version 2"},
        {R"({"format":"tessera-track","version":1,"frames":[]})", "clip is missing"},
        {head + R"("frames":{}})", "frames is not an array"},
        {head + R"("frames":[{"index":1,"time":0,"regions":[]}]})", "out of order"},
        {head + R"("frames":[{"index":0,"time":"0","regions":[]}]})",
         "frames[0].time is not a number"},
        {head + R"("frames":[{"index":0,"time":0}]})", "frames[0].regions is missing"},
        {head + R"("frames":[{"index":0,"time":0,"regions":[{"id":1,"rect":[0,0,-1,1]}]}]})",
         "negative width"},
        {head + R"("frames":[{"index":0,"time":0,"regions":[{"id":1,"rect":[0,0,1]}]}]})",
         "4 numbers"},
        {head + R"("frames":[{"index":0,"time":0,"regions":[{"id":1,"rect":[0,0,1e999,1]}]}]})",
         "1e999"},
        {head + R"("frames":[{"index":0,"time":0,"regions":[{"rect":[0,0,1,1]}]}]})",
         "id is missing"},
        {head +
             R"("frames":[{"index":0,"time":0,"regions":[{"id":1,"rect":[0,0,1,1],"review":1}]}]})",
         "review is not true or false"},
        {R"({"format":"tessera-track","version":1,"clip":{"frames":2},)" + good, "holds 1 frames"},
        {R"({"format":"tessera-track","version":1,"clip":{"frames":2},"frames":[
            {"index":0,"time":0.5,"regions":[]},{"index":1,"time":0.5,"regions":[]}]})",
         "frames[1].time does not follow"},
    };
    ASSERT_NO_THROW(ParseTrack(head + good, "good.json"));
    for (const auto& b : bad) {
        try {
            ParseTrack(b.text, "bad.json");
            ADD_FAILURE() << "taken: " << b.text;
        } catch (const TrackError& e) {
            const std::string line = e.what();
            EXPECT_EQ(line.rfind("bad.json: ", 0), 0u) << line;
            EXPECT_NE(line.find(b.says), std::string::npos) << line;
            EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        }
    }
    testfs::TempFolder dir;
    try {
        ReadTrackFile(dir / "missing.json");
        ADD_FAILURE() << "a missing file was read";
    } catch (const TrackError& e) {
        EXPECT_NE(std::string(e.what()).find(dir / "missing.json"), std::string::npos);
    }
}

TEST(TrackFile, WritingIntoAMissingFolderFailsAndLeavesNothing) {
    testfs::TempFolder dir;
    EXPECT_THROW(WriteTrackFile(TwoRegionTrack(), dir / "no/such/t.json"), TrackError);
    EXPECT_TRUE(std::filesystem::is_empty(dir.dir()));
}

TEST(TrackFile, HostTimesFindTheFrameShownAtThatTime) {
    const Track t = TwoRegionTrack();
    const double frame = 1001.0 / 30000.0;
    EXPECT_EQ(FrameAtTime(t, 0.0), &t.frames[0]);
    EXPECT_EQ(FrameAtTime(t, frame * 0.49), &t.frames[0]);
    EXPECT_EQ(FrameAtTime(t, frame * 0.51), &t.frames[1]); // a time rounded down still lands
    EXPECT_EQ(FrameAtTime(t, 0.033), &t.frames[1]);        // ffmpeg's millisecond times
    EXPECT_EQ(FrameAtTime(t, 2 * frame), &t.frames[2]);
    EXPECT_EQ(FrameAtTime(t, 100.0), &t.frames[2]); // past the end: the last frame
    EXPECT_EQ(FrameAtTime(t, -1.0), nullptr);
    EXPECT_EQ(FrameAtTime(t, std::numeric_limits<double>::quiet_NaN()), nullptr);
    EXPECT_EQ(FrameAtTime(Track{}, 0.0), nullptr);
}

TEST(TrackFile, MltKeyframesPlaceEachIdOnEveryFrame) {
    const std::string xml = FormatMltKeyframes(TwoRegionTrack(), "a&b.mkv", 50, 40, 25);
    EXPECT_NE(xml.find("<property name=\"resource\">a&amp;b.mkv</property>"), std::string::npos);
    EXPECT_NE(xml.find("<filter id=\"region1\">"), std::string::npos);
    EXPECT_NE(xml.find("<property name=\"width\">0|=0.1;1|=0.11;2|=0.12000000000000001"),
              std::string::npos)
        << xml;
    // Id 2 is missing from frame 1: nothing is drawn there.
    EXPECT_NE(xml.find("<property name=\"height\">0|=0.15;1|=0;2|=0.15"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<property name=\"blockw\">0.0505</property>"), std::string::npos);
    EXPECT_NE(xml.find("<property name=\"opacity\">0.255</property>"), std::string::npos);
    EXPECT_NE(xml.find("frame_rate_num=\"30000\""), std::string::npos);
}

} // namespace
