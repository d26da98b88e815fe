// The alert presenter of code without windows: the standard-error one until another is
// installed, the installed one afterwards, and the earlier one back when it is replaced.
#include "AlertPresenter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string gSeen;

SInt16 Recording(toolbox::AlertKind kind, std::string_view headline, std::string_view description,
                 std::string_view okText, std::string_view cancelText) {
    gSeen = std::string(kind == toolbox::AlertKind::stop ? "stop|" : "caution|") +
            std::string(headline) + "|" + std::string(description) + "|" + std::string(okText) +
            "|" + std::string(cancelText);
    return 2;
}

TEST(AlertPresenter, StandardErrorUntilOneIsInstalledThenThatOneUntilItIsReplaced) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(toolbox::PresentAlert(toolbox::AlertKind::stop, "Assertion Failure",
                                    "Assertion failed in: here"),
              1);
    EXPECT_EQ(toolbox::PresentAlert(toolbox::AlertKind::caution,
                                    "Internal Notification:", "caf\x8E", "ok", ""),
              1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[Stop] Assertion Failure\nAssertion failed in: here\n"
              "[Caution] Internal Notification:\ncaf\x8E\n(answered: ok)\n");

    EXPECT_EQ(toolbox::SetAlertPresenter(Recording), nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(toolbox::PresentAlert(toolbox::AlertKind::caution, "Replace?", "It exists", "Replace",
                                    "Keep"),
              2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(gSeen, "caution|Replace?|It exists|Replace|Keep");

    EXPECT_EQ(toolbox::SetAlertPresenter(nullptr), &Recording);
    testing::internal::CaptureStderr();
    toolbox::PresentAlert(toolbox::AlertKind::stop, "Back", "to standard error");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Stop] Back\nto standard error\n");
}

} // namespace
