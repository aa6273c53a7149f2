// The frame's third level: a window that comes back with the size, position
// and state it had when it was last closed. Creation restores the placement
// from "StareRozmiary"; every close saves it. A window destroyed without
// being closed saves nothing.
#pragma once

#include <QRect>

#include "frame/windows/TFormaBezdokumentowa.h"
#include "frame/windows/WindowPlacement.h"

namespace sitowiak::frame {

class TFormaBezdokumentowaPozycjonowana : public TFormaBezdokumentowa {
    Q_OBJECT
public:
    explicit TFormaBezdokumentowaPozycjonowana(QWidget* parent = nullptr);

    // The bounds of the normal state (frame position, client size), also
    // while the window is maximised or minimised.
    QRect NormalBounds() const { return m_normalBounds; }

protected:
    // FormClose: the standard frame's close, then the placement is saved.
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // Writes the placement; inside a RegistryStore::Batch it joins that write.
    void SavePlacement();

private:
    void RestorePlacement();
    void TrackNormalBounds();
    // The stored position is the frame's. Before the window manager has
    // framed the window its frame is not known, and the window may land with
    // its title bar above the screen or, being larger than stored, past the
    // bottom; so while it settles after the first show, the frame is pulled
    // onto the screen.
    void KeepFrameOnScreen();

    QRect m_normalBounds;
    bool m_frameChecked = false;  // the first show has started the checks
};

}  // namespace sitowiak::frame
