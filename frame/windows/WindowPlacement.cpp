#include "WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>

namespace sitowiak::frame {
namespace {

constexpr char kHeight[] = "Wysokość";
constexpr char kWidth[] = "Szerokość";
constexpr char kLeft[] = "OdLewej";
constexpr char kTop[] = "OdGóry";
constexpr char kState[] = "StanOkna";

std::function<QSize()>& ScreenSource() {
    static std::function<QSize()> source;
    return source;
}

}  // namespace

WindowPlacement ReadPlacement(const platform::RegistryStore& store) {
    WindowPlacement p;
    p.height = store.ReadInteger(kPlacementSection, kHeight, p.height);
    p.width = store.ReadInteger(kPlacementSection, kWidth, p.width);
    p.left = store.ReadInteger(kPlacementSection, kLeft, p.left);
    p.top = store.ReadInteger(kPlacementSection, kTop, p.top);
    p.state = store.ReadInteger(kPlacementSection, kState, p.state);
    return p;
}

bool WritePlacement(platform::RegistryStore& store, const WindowPlacement& p) {
    return store.WriteInteger(kPlacementSection, kState, p.state) &&
           store.WriteInteger(kPlacementSection, kHeight, p.height) &&
           store.WriteInteger(kPlacementSection, kWidth, p.width) &&
           store.WriteInteger(kPlacementSection, kLeft, p.left) &&
           store.WriteInteger(kPlacementSection, kTop, p.top);
}

WindowPlacement ClampToScreen(WindowPlacement p, QSize screen) {
    // In 64 bits, so that stored extremes cannot overflow the sums.
    if (int64_t{screen.height()} < int64_t{p.top} + p.height) p.top = screen.height() - p.height;
    if (int64_t{screen.width()} < int64_t{p.left} + p.width) p.left = screen.width() - p.width;
    if (p.top < 0) p.top = 0;
    if (p.left < 0) p.left = 0;
    return p;
}

QSize PrimaryScreenSize() {
    if (ScreenSource()) return ScreenSource()();
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize(640, 480);
}

void SetScreenSizeSource(std::function<QSize()> source) {
    ScreenSource() = std::move(source);
}

}  // namespace sitowiak::frame
