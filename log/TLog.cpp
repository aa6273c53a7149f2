#include "TLog.h"

#include <QCloseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

#include <algorithm>

#include "log/HexDump.h"

namespace sitowiak::log {
namespace {

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QAction* AddItem(QMenu* menu, const char* name, const char* caption, bool checkable) {
    QAction* action = menu->addAction(QString::fromUtf8(caption));
    action->setObjectName(QLatin1String(name));
    action->setCheckable(checkable);
    return action;
}

// Repainting is suspended while an entry goes in and resumed whatever
// happens meanwhile.
class UpdatesSuspended {
public:
    explicit UpdatesSuspended(QWidget* widget) : m_widget(widget) {
        m_widget->setUpdatesEnabled(false);
    }
    ~UpdatesSuspended() { m_widget->setUpdatesEnabled(true); }
    UpdatesSuspended(const UpdatesSuspended&) = delete;
    UpdatesSuspended& operator=(const UpdatesSuspended&) = delete;

private:
    QWidget* m_widget;
};

}  // namespace

TLog::TLog(LogLimits limits, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      m_limits(limits),
      m_clock(QLocale()) {
    setObjectName(QStringLiteral("Log"));
    setWindowTitle(QStringLiteral("Log"));
    move(502, 104);
    resize(518, 606);
    CreateLogWnd();
    CreatePopupMenu();
}

void TLog::CreateLogWnd() {
    LogWnd = new QPlainTextEdit(this);
    LogWnd->setObjectName(QStringLiteral("LogWnd"));
    LogWnd->setReadOnly(true);
    LogWnd->setUndoRedoEnabled(false);
    LogWnd->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont font(QStringLiteral("Courier New"), 8);
    font.setStyleHint(QFont::TypeWriter);
    LogWnd->setFont(font);
    QPalette palette = LogWnd->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    palette.setColor(QPalette::Text, Qt::black);
    LogWnd->setPalette(palette);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(LogWnd);
}

void TLog::CreatePopupMenu() {
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    Copy1 = AddItem(PopupMenu, "Copy1", "&Copy", false);
    Clear1 = AddItem(PopupMenu, "Clear1", "&Clear", false);
    Refresh1 = AddItem(PopupMenu, "Refresh1", "&Refresh", true);
    LineMode1 = AddItem(PopupMenu, "LineMode1", "&LineMode", true);
    Debugstring1 = AddItem(PopupMenu, "Debugstring1", "&Debugstring", true);
    Wordwrap1 = AddItem(PopupMenu, "Wordwrap1", "&Word wrap", true);
    Refresh1->setChecked(true);
    connect(Copy1, &QAction::triggered, this, [this] { Copy1Click(); });
    connect(Clear1, &QAction::triggered, this, [this] { Clear1Click(); });
    connect(Wordwrap1, &QAction::triggered, this, [this] { Wordwrap1Click(); });
    LogWnd->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(LogWnd, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu->popup(LogWnd->mapToGlobal(at)); });
}

void TLog::SetEntryStyle(Rgb color, const std::string& title) {
    m_entryColor = color & 0xFFFFFF;
    m_entryTitle = title;
}

void TLog::SetEntryTitle(const std::string& title) {
    m_entryTitle = title;
}

// The header line, then the bytes up to their first zero byte, at most
// maxEntryBytes of them, as text or hex dump; a cut entry says so.
QString TLog::EntryText(const std::string& text) const {
    std::string_view bytes(text.c_str());
    size_t hidden =
        bytes.size() > m_limits.maxEntryBytes ? bytes.size() - m_limits.maxEntryBytes : 0;
    bytes.remove_suffix(hidden);
    QString entry =
        m_clock.Format(QDateTime::currentDateTime()) + QLatin1Char(' ') + Q(m_entryTitle);
    entry += QLatin1Char('\n');
    entry += Debugstring1->isChecked() ? BodyText(HexDump(bytes)) : BodyText(bytes);
    if (hidden > 0) entry += QStringLiteral("\n(%1 more bytes not shown)").arg(hidden);
    return entry;
}

void TLog::AddEntry(const std::string& text) {
    if (!isVisible()) show();
    qsizetype caret = LogWnd->textCursor().position();
    {
        UpdatesSuspended suspended(LogWnd);
        Append(EntryText(text));
        caret = std::max<qsizetype>(0, caret - TrimToLimits());
        PlaceCaret(caret);
    }
    if (Refresh1->isChecked()) PlaceCaret(LogWnd->document()->characterCount() - 1);
}

// Entries are separated by one blank line unless the log's last line is
// already empty; the first entry of an empty log starts on its first line.
void TLog::Append(const QString& entry) {
    QTextDocument* document = LogWnd->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    bool empty = document->isEmpty();
    bool separator = !empty && !cursor.block().text().isEmpty();
    QString inserted =
        empty ? entry : (separator ? QStringLiteral("\n\n") : QStringLiteral("\n")) + entry;
    QTextCharFormat format;
    format.setForeground(QColor::fromRgb(static_cast<QRgb>(m_entryColor)));
    // Counted by the document, which also breaks lines at characters such
    // as U+2029 that the logged text may hold.
    int blocksBefore = document->blockCount();
    cursor.insertText(inserted, format);
    int added = document->blockCount() - blocksBefore;
    int lines = empty ? added + 1 : added - (separator ? 1 : 0);
    m_entries.push_back({separator, lines, inserted.size()});
}

// Past a limit the oldest entries go, down to seven eighths of each limit,
// in one removal: every removal at the front costs the text control about
// as much as adding a small entry, so a full log trims seldom and in bulk.
qsizetype TLog::TrimToLimits() {
    qsizetype chars = LogWnd->document()->characterCount();
    if (EntryCount() <= m_limits.maxEntries && chars <= m_limits.maxChars) return 0;
    const size_t keepEntries = static_cast<size_t>(m_limits.maxEntries - m_limits.maxEntries / 8);
    const qsizetype keepChars = m_limits.maxChars - m_limits.maxChars / 8;
    size_t drop = 0;
    while (m_entries.size() - drop > 1 &&
           (m_entries.size() - drop > keepEntries || chars > keepChars))
        chars -= m_entries[drop++].chars;
    return DropOldest(drop);
}

// Removes the oldest `count` entries with the blank line that separated the
// last of them from the next, so the log again starts with a header.
// Returns the characters removed.
qsizetype TLog::DropOldest(size_t count) {
    if (count == 0) return 0;
    int lines = 0;
    for (size_t i = 0; i < count; ++i) {
        lines += m_entries[i].lines + (m_entries[i].separator ? 1 : 0);
    }
    m_entries.erase(m_entries.begin(), m_entries.begin() + static_cast<ptrdiff_t>(count));
    if (m_entries.front().separator) {
        ++lines;
        m_entries.front().separator = false;
    }
    QTextCursor cursor(LogWnd->document());
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, lines);
    qsizetype removed = cursor.selectionEnd();
    cursor.removeSelectedText();
    return removed;
}

void TLog::PlaceCaret(qsizetype position) {
    QTextCursor cursor = LogWnd->textCursor();
    position = std::min<qsizetype>(position, LogWnd->document()->characterCount() - 1);
    cursor.setPosition(static_cast<int>(position));
    LogWnd->setTextCursor(cursor);
    LogWnd->ensureCursorVisible();
}

// Copies the whole log and leaves nothing selected, the caret where it was.
void TLog::Copy1Click() {
    qsizetype caret = LogWnd->textCursor().position();
    LogWnd->selectAll();
    LogWnd->copy();
    PlaceCaret(caret);
}

void TLog::Clear1Click() {
    LogWnd->clear();
    m_entries.clear();
}

void TLog::Wordwrap1Click() {
    LogWnd->setLineWrapMode(Wordwrap1->isChecked() ? QPlainTextEdit::WidgetWidth
                                                   : QPlainTextEdit::NoWrap);
}

void TLog::closeEvent(QCloseEvent* event) {
    hide();
    event->ignore();
}

}  // namespace sitowiak::log
