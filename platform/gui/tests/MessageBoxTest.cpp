#include <gtest/gtest.h>

#include <QApplication>

#include "platform/core/StandardErrorLines.h"
#include "platform/gui/Display.h"
#include "platform/gui/MessageBox.h"

namespace sitowiak::platform {
namespace {

TEST(MessageBox, WithoutADisplayTheBoxGoesToStandardErrorAndTakesItsDefault) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);  // offscreen under CTest
    ASSERT_FALSE(HasDisplay());
    testing::internal::CaptureStderr();
    int answer = MessageBox("Tekst zażółć", "Podpis", MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Podpis\nTekst zażółć\n");
    EXPECT_EQ(answer, IDNO);

    // While the proxy runs: one line each, with the priority of the icon.
    testing::internal::CaptureStderr();
    StandardErrorLines lines(2);
    SetStandardErrorLines(&lines, LinePriority::kInfo);
    MessageBox("Tekst", "Podpis", MB_OK);
    MessageBox("Błąd\n\nporada", "test", MB_OK | MB_ICONERROR);
    MessageBox("Uwaga", "", MB_OK | MB_ICONWARNING);
    SetStandardErrorLines(nullptr, LinePriority::kError);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "<6>Podpis: Tekst\n<3>Błąd  porada\n<4>Uwaga\n");
}

TEST(MessageBox, DefaultButtonsFollowTheFlags) {
    EXPECT_EQ(DefaultButton(MB_OK), IDOK);
    EXPECT_EQ(DefaultButton(MB_YESNO), IDYES);
    EXPECT_EQ(DefaultButton(MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
    EXPECT_EQ(DefaultButton(MB_OK | MB_DEFBUTTON2), IDOK);
}

TEST(MessageBox, AHookSeesEveryBox) {
    std::string seen;
    SetMessageBoxHook([&](const std::string& text, const std::string& caption, unsigned) {
        seen = caption + "|" + text;
        return IDCANCEL;
    });
    EXPECT_EQ(MessageBox("t", "c", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(seen, "c|t");
    SetMessageBoxHook(nullptr);
}

TEST(Display, OffscreenIsChosenOnlyWithoutAnyDisplay) {
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("WAYLAND_DISPLAY");
    setenv("DISPLAY", ":5", 1);
    EXPECT_FALSE(SelectPlatformForDisplay());
    unsetenv("DISPLAY");
    EXPECT_TRUE(SelectPlatformForDisplay());
    EXPECT_STREQ(getenv("QT_QPA_PLATFORM"), "offscreen");
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    EXPECT_FALSE(SelectPlatformForDisplay());
    EXPECT_STREQ(getenv("QT_QPA_PLATFORM"), "xcb");
}

}  // namespace
}  // namespace sitowiak::platform
