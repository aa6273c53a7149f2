#include "TStatusBar.h"

namespace sitowiak::frame {

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent), m_simple(new QLabel(this)) {
    m_simple->setObjectName(QStringLiteral("SimplePanel"));
    addWidget(m_simple, 1);
}

void TStatusBar::SetSimplePanel(bool on) {
    m_simplePanel = on;
    m_simple->setVisible(on);
    for (QLabel* panel : m_panels) panel->setVisible(!on);
}

QLabel* TStatusBar::AddPanel(int width, bool lowered, const QString& text, bool stretch) {
    auto* panel = new QLabel(text, this);
    panel->setAlignment(Qt::AlignCenter);
    panel->setMinimumWidth(width);
    panel->setFrameStyle(lowered ? QFrame::Panel | QFrame::Sunken : QFrame::NoFrame);
    panel->setVisible(!m_simplePanel);
    addWidget(panel, stretch ? 1 : 0);
    m_panels.push_back(panel);
    return panel;
}

}  // namespace sitowiak::frame
