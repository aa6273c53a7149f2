#include <gtest/gtest.h>

#include "frame/windows/TFormaBezdokumentowaPozycjonowana.h"
#include "platform/core/RegistryHive.h"
#include "tests/support/TestApp.h"

namespace sitowiak::frame {
namespace {

constexpr const char* kSection = "HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\StareRozmiary";
using Window = TFormaBezdokumentowaPozycjonowana;

class PlacementTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::TestApp();
        SetScreenSizeSource([] { return QSize(1024, 768); });
    }
    void TearDown() override { SetScreenSizeSource(nullptr); }
    platform::RegistryHive Hive() { return platform::RegistryHive(m_config.UserHive()); }
    std::string Stored(const char* name) {
        auto value = Hive().ReadValue(kSection, name);
        return value ? value->data : "(none)";
    }
    void Store(const char* name, const char* value) {
        Hive().WriteValue(kSection, name, platform::RegValue::String(value));
    }

    testing::TempConfig m_config;
};

TEST(ClampToScreenTest, PullsBackPushesToZeroAndKeepsSizes) {
    const QSize screen(800, 600);
    auto clamp = [&](int h, int w, int l, int t) {
        WindowPlacement p = ClampToScreen({h, w, l, t, 0}, screen);
        return std::vector<int>{p.height, p.width, p.left, p.top};
    };
    EXPECT_EQ(clamp(342, 522, -1, -1), (std::vector<int>{342, 522, 0, 0}));
    EXPECT_EQ(clamp(300, 400, 700, 500), (std::vector<int>{300, 400, 400, 300}));
    EXPECT_EQ(clamp(300, 400, -50, -20), (std::vector<int>{300, 400, 0, 0}));
    EXPECT_EQ(clamp(700, 1000, 10, 10), (std::vector<int>{700, 1000, 0, 0}));
    EXPECT_EQ(clamp(300, 400, 2147483000, 2147483000), (std::vector<int>{300, 400, 400, 300}));
}

TEST_F(PlacementTest, FirstRunUsesTheDefaultsAtTheTopLeftCorner) {
    Window window;
    EXPECT_EQ(window.pos(), QPoint(0, 0));
    EXPECT_EQ(window.size(), QSize(522, 342));
    EXPECT_EQ(window.windowState(), Qt::WindowNoState);
}

TEST_F(PlacementTest, CloseStoresAndTheNextWindowComesBackThere) {
    {
        Window window;
        window.show();
        window.move(100, 80);
        window.resize(600, 400);
        window.close();
    }
    EXPECT_EQ(Stored("StanOkna"), "0");
    EXPECT_EQ(Stored("Wysokość"), "400");
    EXPECT_EQ(Stored("Szerokość"), "600");
    EXPECT_EQ(Stored("OdLewej"), "100");
    EXPECT_EQ(Stored("OdGóry"), "80");
    Window again;
    EXPECT_EQ(again.pos(), QPoint(100, 80));
    EXPECT_EQ(again.size(), QSize(600, 400));
}

TEST_F(PlacementTest, MaximisedWindowKeepsItsNormalBounds) {
    {
        Window window;
        window.show();
        window.move(50, 40);
        window.resize(500, 300);
        window.setWindowState(Qt::WindowMaximized);
        window.close();
    }
    EXPECT_EQ(Stored("StanOkna"), "2");
    EXPECT_EQ(Stored("Szerokość"), "500");
    EXPECT_EQ(Stored("OdLewej"), "50");
    Window again;
    EXPECT_TRUE(again.windowState() & Qt::WindowMaximized);
    EXPECT_EQ(again.NormalBounds(), QRect(50, 40, 500, 300));
}

TEST_F(PlacementTest, StoredPlacementIsClampedAndBadValuesTakeDefaults) {
    Store("Wysokość", "300");
    Store("Szerokość", "2000");
    Store("OdLewej", "500");
    Store("OdGóry", "700");
    Store("StanOkna", "x");
    Window window;
    EXPECT_EQ(window.pos(), QPoint(0, 768 - 300));
    EXPECT_EQ(window.size(), QSize(2000, 300));
    EXPECT_EQ(window.windowState(), Qt::WindowNoState);
}

TEST_F(PlacementTest, AWindowDestroyedWithoutClosingStoresNothing) {
    { Window window; }
    EXPECT_EQ(Stored("StanOkna"), "(none)");
}

}  // namespace
}  // namespace sitowiak::frame
