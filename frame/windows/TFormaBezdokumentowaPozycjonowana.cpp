#include "TFormaBezdokumentowaPozycjonowana.h"

#include <QCloseEvent>
#include <QTimer>
#include <QWindow>

#include "platform/gui/MessageBox.h"

namespace sitowiak::frame {
namespace {

int StateNumber(Qt::WindowStates state) {
    if (state & Qt::WindowMinimized) return wsnMinimized;
    if (state & Qt::WindowMaximized) return wsnMaximized;
    return wsnNormal;
}

// A stored number other than 1 or 2 opens the window in the normal state.
Qt::WindowStates QtState(int number) {
    if (number == wsnMinimized) return Qt::WindowMinimized;
    if (number == wsnMaximized) return Qt::WindowMaximized;
    return Qt::WindowNoState;
}

}  // namespace

TFormaBezdokumentowaPozycjonowana::TFormaBezdokumentowaPozycjonowana(QWidget* parent)
    : TFormaBezdokumentowa(parent) {
    RestorePlacement();
}

// Position and size set before the window is shown are used as they are.
void TFormaBezdokumentowaPozycjonowana::RestorePlacement() {
    WindowPlacement p = ClampToScreen(ReadPlacement(RegistryStore()), PrimaryScreenSize());
    move(p.left, p.top);
    resize(p.width, p.height);
    m_normalBounds = QRect(pos(), size());
    setWindowState(QtState(p.state));
}

// The state is taken first; the bounds saved are those of the normal state
// whatever state the window is in.
void TFormaBezdokumentowaPozycjonowana::SavePlacement() {
    WindowPlacement p;
    p.state = StateNumber(windowState());
    p.height = m_normalBounds.height();
    p.width = m_normalBounds.width();
    p.left = m_normalBounds.x();
    p.top = m_normalBounds.y();
    if (!WritePlacement(RegistryStore(), p))
        platform::MessageBox("Nie udało się zapisać położenia okna w rejestrze.", ProductName(),
                             platform::MB_OK | platform::MB_ICONWARNING);
}

void TFormaBezdokumentowaPozycjonowana::closeEvent(QCloseEvent* event) {
    TFormaBezdokumentowa::closeEvent(event);
    if (event->isAccepted()) SavePlacement();
}

void TFormaBezdokumentowaPozycjonowana::TrackNormalBounds() {
    if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        m_normalBounds = QRect(pos(), size());
}

void TFormaBezdokumentowaPozycjonowana::showEvent(QShowEvent* event) {
    TFormaBezdokumentowa::showEvent(event);
    // The window manager frames and places the window some moments after it
    // is shown, and Qt learns the frame's size without a move event: look a
    // few times while it settles. Later moves are the user's own.
    if (m_frameChecked) return;
    m_frameChecked = true;
    for (int ms : {50, 150, 300, 600, 1000, 1500, 2500})
        QTimer::singleShot(ms, this, [this] { KeepFrameOnScreen(); });
}

void TFormaBezdokumentowaPozycjonowana::KeepFrameOnScreen() {
    if (!isVisible() || windowState() != Qt::WindowNoState) return;
    QWindow* window = windowHandle();
    if (!window) return;
    const QMargins margins = window->frameMargins();
    if (margins.isNull()) return;  // not framed yet, or never will be
    const QRect frame = window->frameGeometry();
    WindowPlacement p;
    p.left = frame.x();
    p.top = frame.y();
    p.width = frame.width();
    p.height = frame.height();
    p = ClampToScreen(p, PrimaryScreenSize());
    // The window's own position moves the client area; the frame follows.
    if (p.left != frame.x() || p.top != frame.y())
        window->setPosition(window->position() + QPoint(p.left - frame.x(), p.top - frame.y()));
}

void TFormaBezdokumentowaPozycjonowana::moveEvent(QMoveEvent* event) {
    TFormaBezdokumentowa::moveEvent(event);
    TrackNormalBounds();
}

void TFormaBezdokumentowaPozycjonowana::resizeEvent(QResizeEvent* event) {
    TFormaBezdokumentowa::resizeEvent(event);
    TrackNormalBounds();
}

}  // namespace sitowiak::frame
