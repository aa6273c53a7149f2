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

// How long one pass may put entries into the control, in milliseconds, and
// how many times as long the next one waits.
// A pass during a burst waits six times its length, so the relay keeps most
// of the processor; once entries stop coming, the queue drains at half.
constexpr qint64 kPassBudget = 8;
constexpr qint64 kBurstPause = 6;
constexpr qint64 kDrainPause = 1;
// Buffers of trimmed entries kept for the next ones.
constexpr size_t kSpareBuffers = 16;

}  // namespace

TLog::TLog(LogLimits limits, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      m_limits(limits) {
    setObjectName(QStringLiteral("Log"));
    setWindowTitle(QStringLiteral("Log"));
    move(502, 104);
    resize(518, 606);
    CreateLogWnd();
    CreatePopupMenu();
    m_pass.setSingleShot(true);
    connect(&m_pass, &QTimer::timeout, this, [this] { Pass(kPassBudget); });
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

// Queues the header line and the bytes up to their first zero byte, at most
// maxEntryBytes of them, to be shown as text or hex dump; a cut entry says
// so. Their text is prepared when they go into the control.
void TLog::AddEntry(const std::string& text) {
    if (!isVisible()) show();
    std::string_view bytes(text.c_str());
    size_t hidden =
        bytes.size() > m_limits.maxEntryBytes ? bytes.size() - m_limits.maxEntryBytes : 0;
    bytes.remove_suffix(hidden);
    Queued entry{.color = m_entryColor,
                 .header = m_clock.FormatNow() + QLatin1Char(' ') + Q(m_entryTitle),
                 .tail = {},
                 .bytes = {},
                 .hex = Debugstring1->isChecked()};
    BodyShape shape = ShapeOfBody(bytes, entry.hex);
    // Into the buffer of an entry trimmed before: fresh memory of this size
    // costs a page fault per page.
    if (!m_spare.empty()) {
        entry.bytes = std::move(m_spare.back());
        m_spare.pop_back();
    }
    entry.bytes.assign(bytes);
    if (hidden > 0)
        entry.tail = QString::fromUtf8("\n(nie pokazano dalszych bajtów: %1)").arg(hidden);

    // Entries are separated by one blank line unless the log's last line is
    // already empty; the first entry of an empty log starts on its first
    // line. Their size is known before their text is prepared.
    int prefix = m_entries.empty() ? 0 : (m_endsWithBreak ? 1 : 2);
    qsizetype chars = prefix + entry.header.size() + 1 + shape.size + entry.tail.size();
    m_entries.push_back({.separator = prefix == 2, .prefix = prefix, .chars = chars, .lines = 0});
    m_queue.push_back(std::move(entry));
    m_chars += chars;
    m_endsWithBreak = m_queue.back().tail.isEmpty() && shape.endsWithBreak;
    m_arrived = true;
    TrimToLimits();
    SchedulePass();
}

// Past a limit the oldest entries go, down to seven eighths of each limit,
// in one removal: every removal at the front costs the text control about
// as much as adding a small entry, so a full log trims seldom and in bulk.
void TLog::TrimToLimits() {
    qsizetype chars = m_chars;
    if (EntryCount() <= m_limits.maxEntries && chars <= m_limits.maxChars) return;
    const size_t keepEntries = static_cast<size_t>(m_limits.maxEntries - m_limits.maxEntries / 8);
    const qsizetype keepChars = m_limits.maxChars - m_limits.maxChars / 8;
    size_t drop = 0;
    while (m_entries.size() - drop > 1 &&
           (m_entries.size() - drop > keepEntries || chars > keepChars))
        chars -= m_entries[drop++].chars;
    DropOldest(drop);
}

// Drops the oldest `count` entries with the line breaks before the next, so
// the log again starts with a header. Queued ones simply go; shown ones are
// counted for removal from the control by the next pass.
void TLog::DropOldest(size_t count) {
    if (count == 0) return;
    const size_t shown = std::min(count, m_shown);
    for (size_t i = 0; i < count; ++i) {
        if (i < shown) m_droppedLines += m_entries[i].lines + (m_entries[i].separator ? 1 : 0);
        m_chars -= m_entries[i].chars;
    }
    m_entries.erase(m_entries.begin(), m_entries.begin() + static_cast<ptrdiff_t>(count));
    for (size_t i = 0; i < count - shown && m_spare.size() < kSpareBuffers; ++i)
        m_spare.push_back(std::move(m_queue[i].bytes));
    m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<ptrdiff_t>(count - shown));
    m_shown -= shown;
    Extent& front = m_entries.front();
    if (m_shown > 0) {
        if (front.separator) ++m_droppedLines;
    } else if (shown > 0) {
        // Nothing shown survives: the next pass empties the control.
        m_dropAll = true;
        m_droppedLines = 0;
    }
    m_chars -= front.prefix;
    front.chars -= front.prefix;
    front.prefix = 0;
    front.separator = false;
}

void TLog::SchedulePass() {
    if (m_pass.isActive()) return;
    qint64 wait = m_sincePass.isValid() ? std::max<qint64>(0, m_pause - m_sincePass.elapsed()) : 0;
    m_pass.start(static_cast<int>(wait));
}

void TLog::Drain() {
    if (!m_queue.empty() || m_droppedLines > 0 || m_dropAll) Pass(-1);
}

void TLog::Pass(qint64 budget) {
    m_pass.stop();
    const bool arrived = m_arrived;
    m_arrived = false;
    QElapsedTimer took;
    took.start();
    qsizetype caret = LogWnd->textCursor().position();
    {
        UpdatesSuspended suspended(LogWnd);
        caret = std::max<qsizetype>(0, caret - RemoveDropped());
        while (!m_queue.empty()) {
            Insert(m_queue.front(), m_entries[m_shown]);
            m_queue.pop_front();
            ++m_shown;
            if (budget >= 0 && took.elapsed() >= budget) break;
        }
        PlaceCaret(caret);
    }
    if (Refresh1->isChecked()) PlaceCaret(LogWnd->document()->characterCount() - 1);
    if (budget >= 0) {
        m_pause = (arrived ? kBurstPause : kDrainPause) * took.elapsed();
        m_sincePass.start();
    }
    if (!m_queue.empty()) SchedulePass();
}

// Removes the trimmed lines from the front of the control in one removal;
// returns the characters removed.
qsizetype TLog::RemoveDropped() {
    if (!m_dropAll && m_droppedLines == 0) return 0;
    QTextDocument* document = LogWnd->document();
    QTextCursor cursor(document);
    // Positioned directly: moving block by block lays out every block passed.
    if (m_dropAll)
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    else
        cursor.setPosition(document->findBlockByNumber(m_droppedLines).position(),
                           QTextCursor::KeepAnchor);
    m_dropAll = false;
    m_droppedLines = 0;
    qsizetype removed = cursor.selectionEnd();
    cursor.removeSelectedText();
    return removed;
}

void TLog::Insert(Queued& entry, Extent& extent) {
    QString body = entry.hex ? BodyText(HexDump(entry.bytes)) : BodyText(entry.bytes);
    QString inserted = QString(extent.prefix, QLatin1Char('\n'));
    inserted.reserve(extent.chars);
    inserted += entry.header;
    inserted += QLatin1Char('\n');
    inserted += body;
    inserted += entry.tail;
    QTextDocument* document = LogWnd->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    bool empty = document->isEmpty();
    QTextCharFormat format;
    format.setForeground(QColor::fromRgb(static_cast<QRgb>(entry.color)));
    // Counted by the document, which also breaks lines at characters such
    // as U+2029 that the logged text may hold.
    int blocksBefore = document->blockCount();
    cursor.insertText(inserted, format);
    int added = document->blockCount() - blocksBefore;
    extent.lines = empty ? added + 1 : added - (extent.separator ? 1 : 0);
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
    Drain();
    qsizetype caret = LogWnd->textCursor().position();
    LogWnd->selectAll();
    LogWnd->copy();
    PlaceCaret(caret);
}

void TLog::Clear1Click() {
    LogWnd->clear();
    m_entries.clear();
    m_queue.clear();
    m_shown = 0;
    m_chars = 1;
    m_endsWithBreak = true;
    m_droppedLines = 0;
    m_dropAll = false;
    m_pass.stop();
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
