// Failure reporting: fatal assertions and terminations show both texts on standard error
// and end the process with a failure status; non-fatal notices return.
#include "DataHandling.h"
#include "MacMemory.h"
#include "PlugInCore.h"
#include "TestSupport.h"
#include "commonprocs.h"
#include "pixeleffect.h"
#include "prefsloader.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <thread>

namespace {

using ::testing::ExitedWithCode;

TEST(Assertions, NonNilPointerReturns) {
    int x = 0;
    Assert(&x, "Nil x on a test");
    SUCCEED();
}

TEST(AssertionsDeathTest, NilShowsHeadlineAndLocationAndEnds) {
    EXPECT_EXIT(Assert(nullptr, "Nil theConfig on DoConfig"), ExitedWithCode(1),
                "Assertion Failure\nAssertion failed in: Nil theConfig on DoConfig");
}

TEST(AssertionsDeathTest, LongLocationsAreCutAt255Characters) {
    const std::string location = std::string(234, 'a') + std::string(6, 'b');
    // "Assertion failed in: " is 21 characters: 234 of the text fit, the b's do not.
    EXPECT_EXIT(Assert(nullptr, location), ExitedWithCode(1), "Assertion failed in: a{234}\n");
}

TEST(AssertionsDeathTest, TerminateShowsItsOwnTexts) {
    EXPECT_EXIT(Terminate("Non-Matching Blocks", "The Size of Source and Dest do not match"),
                ExitedWithCode(1), "Non-Matching Blocks\nThe Size of Source and Dest do not match");
}

// What a front end that must survive a failure installs: the texts leave by an exception.
struct Failed {
    std::string headline, description;
};
[[noreturn]] void ThrowFailure(std::string_view headline, std::string_view description) {
    throw Failed{std::string(headline), std::string(description)};
}

TEST(FatalFailureHandler, AThreadsHandlerIsReachedByAssertAndTerminateAndShowsNothing) {
    ASSERT_EQ(SetFatalFailureHandler(ThrowFailure), nullptr); // the default before
    testing::internal::CaptureStderr();
    try {
        Assert(nullptr, "Nil theConfig on DoConfig");
        ADD_FAILURE() << "Assert returned";
    } catch (const Failed& f) {
        EXPECT_EQ(f.headline, "Assertion Failure");
        EXPECT_EQ(f.description, "Assertion failed in: Nil theConfig on DoConfig");
    }
    tessera_test::Frame a(8, 8), b(8, 8);
    SInt16 opacity = 0;
    EXPECT_THROW(DoEffect(nullptr, nullptr, a.get(), b.get(), 0, 0, 0, 1, 0, 0, 0, opacity),
                 Failed); // an engine entry unwinds to the front end's boundary
    try {
        Terminate("Non-Matching Blocks", "The Size of Source and Dest do not match");
    } catch (const Failed& f) {
        EXPECT_EQ(f.headline, "Non-Matching Blocks");
        EXPECT_EQ(f.description, "The Size of Source and Dest do not match");
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), ""); // no stop alert shown
    // Another thread keeps the default; setting nil brings it back here.
    FatalFailureHandler elsewhere = ThrowFailure;
    std::thread([&] { elsewhere = SetFatalFailureHandler(nullptr); }).join();
    EXPECT_EQ(elsewhere, nullptr);
    EXPECT_EQ(SetFatalFailureHandler(nullptr), &ThrowFailure);
}

TEST(FatalFailureHandlerDeathTest, AHandlerThatReturnsStillEndsTheProcess) {
    EXPECT_EXIT(
        {
            SetFatalFailureHandler([](std::string_view, std::string_view) {});
            Assert(nullptr, "Nil x on a test");
        },
        ExitedWithCode(1), "Assertion failed in: Nil x on a test");
}

TEST(Notices, NotifyReturnsAfterShowingItsMessage) {
    testing::internal::CaptureStderr();
    Notify("Cannot locate manual in bundle");
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_NE(shown.find("Internal Notification:"), std::string::npos);
    EXPECT_NE(shown.find("Cannot locate manual in bundle"), std::string::npos);
}

TEST(Notices, StandardWarningAnswersWithTheDefaultButton) {
    Str255 h, d, ok, cancel;
    CStr2Str255("Headline", h);
    CStr2Str255("Description", d);
    CStr2Str255("Go on", ok);
    CStr2Str255("Stop", cancel);
    testing::internal::CaptureStderr();
    EXPECT_EQ(StandardWarning(h, d, ok, cancel), 1);
    testing::internal::GetCapturedStderr();
}

TEST(EngineAssertionsDeathTest, InitMyPlugInWithoutARecord) {
    tessera_test::TempConfigHome home;
    EXPECT_EXIT(InitMyPlugIn(nullptr), ExitedWithCode(1),
                "Assertion failed in: Unable to allocate new data structure");
}

TEST(EngineAssertionsDeathTest, InitPluginDataWithoutARecord) {
    EXPECT_EXIT(InitPluginData(nullptr), ExitedWithCode(1),
                "Assertion failed in: Nil theConfig on InitPluginData");
}

TEST(EngineAssertionsDeathTest, UncopyWithoutACopy) {
    EXPECT_EXIT(pUncopyConfig(nullptr), ExitedWithCode(1),
                "Assertion failed in: Nil data in pUncopyConfig");
}

TEST(EngineAssertionsDeathTest, DoEffectWithoutAConfiguration) {
    tessera_test::Frame a(8, 8), b(8, 8);
    SInt16 opacity = 0;
    EXPECT_EXIT(DoEffect(nullptr, nullptr, a.get(), b.get(), 0, 0, 0, 1, 0, 0, 0, opacity),
                ExitedWithCode(1),
                "Assertion failed in: uninited theData in Plugin Effect master proc. need to "
                "call init before calling me");
}

TEST(EngineAssertionsDeathTest, CopyBetweenBlocksOfDifferentSizes) {
    auto* a = reinterpret_cast<pluginDataRec*>(NewPtrClear(sizeof(pluginDataRec)));
    auto* b = reinterpret_cast<pluginDataRec*>(NewPtrClear(sizeof(pluginDataRec) + 4));
    EXPECT_EXIT(pCopyConfig(a, b), ExitedWithCode(1),
                "Non-Matching Blocks\nThe Size of Source and Dest do not match");
    DisposePtr(reinterpret_cast<Ptr>(a));
    DisposePtr(reinterpret_cast<Ptr>(b));
}

} // namespace
