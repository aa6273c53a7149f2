// The frame's status bar: either one simple panel that shows a text (the
// frame's hints), or a row of panels that the window adds. With the simple
// panel off its text is kept but not shown.
#pragma once

#include <QLabel>
#include <QStatusBar>

#include <vector>

namespace sitowiak::frame {

class TStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit TStatusBar(QWidget* parent = nullptr);

    bool SimplePanel() const { return m_simplePanel; }
    void SetSimplePanel(bool on);
    QString SimpleText() const { return m_simple->text(); }
    void SetSimpleText(const QString& text) { m_simple->setText(text); }

    // Adds a centred panel at least `width` pixels wide (wider only when its
    // text needs it), lowered or flat. A stretching panel takes the room
    // left, as the last panel of a row does.
    QLabel* AddPanel(int width, bool lowered, const QString& text, bool stretch = false);
    QLabel* Panel(int index) const { return m_panels.at(static_cast<size_t>(index)); }
    int PanelCount() const { return static_cast<int>(m_panels.size()); }

private:
    QLabel* m_simple;
    std::vector<QLabel*> m_panels;
    bool m_simplePanel = true;
};

}  // namespace sitowiak::frame
