// The traffic log window: a read-only text box of coloured entries, each a
// header line with the date, time and title followed by the logged bytes as
// text or as a hex dump, and a context menu to copy or clear the log and to
// set four switches. It is created hidden, shows itself with each entry,
// and closing it only hides it.
//
// The log is bounded: past LogLimits the oldest entries go, and one entry
// shows at most maxEntryBytes of its bytes.
//
// Adding an entry only queues it: the text control lays out every line it
// takes, far slower than the relay moves bytes. Entries reach the control
// in passes on a timer, each pass bounded in time and followed, while
// entries keep coming, by a pause six times as long, so the event loop and
// the relay keep most of the processor during a burst. The limits are applied as entries are
// queued, to the log as it will be shown, so an entry that would be trimmed before it is seen never
// reaches the control nor has its text prepared. Once the queue is empty the control shows exactly
// what adding each entry at once would have shown.
#pragma once

#include <QAction>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <string>
#include <vector>

#include "log/LogSink.h"
#include "log/LogText.h"

namespace sitowiak::log {

// The text control lays out every line added and keeps it: measured here,
// 4 Mi characters of log take about 150 MB, and an entry of 64 KiB shown as
// a hex dump (4096 lines) takes about a tenth of a second to add.
// Characters are counted as the UTF-8 bytes that show them, each line end
// as one: at least as many as the control holds, told without decoding.
struct LogLimits {
    int maxEntries = 20000;
    qsizetype maxChars = 4 * 1024 * 1024;
    size_t maxEntryBytes = 64 * 1024;
};

class TLog : public QWidget, public LogSink {
    Q_OBJECT
public:
    explicit TLog(LogLimits limits = {}, QWidget* parent = nullptr);

    void SetEntryStyle(Rgb color, const std::string& title) override;
    void SetEntryTitle(const std::string& title) override;
    void AddEntry(const std::string& text) override;
    bool LineModeChecked() const override { return LineMode1->isChecked(); }

    Rgb EntryColor() const { return m_entryColor; }
    const std::string& EntryTitle() const { return m_entryTitle; }
    // Entries in the log, shown or still queued.
    int EntryCount() const { return static_cast<int>(m_entries.size()); }
    int QueuedCount() const { return static_cast<int>(m_queue.size()); }
    // Puts every queued entry into the control now.
    void Drain();

    void Copy1Click();
    void Clear1Click();
    void Wordwrap1Click();

    QPlainTextEdit* LogWnd = nullptr;
    QMenu* PopupMenu = nullptr;
    QAction* Copy1 = nullptr;
    QAction* Clear1 = nullptr;
    QAction* Refresh1 = nullptr;
    QAction* LineMode1 = nullptr;
    QAction* Debugstring1 = nullptr;
    QAction* Wordwrap1 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Where one entry lies: the line breaks before it (none for the first
    // line of the log, one after an empty last line, else two: a blank
    // separator line), its characters with those breaks, and its lines
    // once it is in the control.
    struct Extent {
        bool separator;
        int prefix;
        qsizetype chars;
        int lines;
    };
    // An entry not yet in the control: its header, its bytes, and the line
    // that says how many more were not shown.
    struct Queued {
        Rgb color;
        QString header;
        QString tail;
        std::string bytes;
        bool hex;
    };

    void CreateLogWnd();
    void CreatePopupMenu();
    // Applies the limits to the log as it will be shown.
    void TrimToLimits();
    void DropOldest(size_t count);
    void SchedulePass();
    // Puts queued entries into the control, for at least `budget` ms once
    // one has gone in, or all of them when budget is negative.
    void Pass(qint64 budget);
    qsizetype RemoveDropped();
    void Insert(Queued& entry, Extent& extent);
    void PlaceCaret(qsizetype position);

    LogLimits m_limits;
    HeaderClock m_clock;
    Rgb m_entryColor = 0x000000;
    std::string m_entryTitle;
    // Every entry of the log: the first m_shown are in the control, the
    // rest are m_queue, in order.
    std::deque<Extent> m_entries;
    std::deque<Queued> m_queue;
    std::vector<std::string> m_spare;
    size_t m_shown = 0;
    // Characters of the log with its final paragraph end, as the control's
    // characterCount() will be.
    qsizetype m_chars = 1;
    // Whether the log's last line is empty (or the log is).
    bool m_endsWithBreak = true;
    // Lines at the front of the control that have been trimmed away but
    // are still shown; all of them when m_shown is 0.
    int m_droppedLines = 0;
    bool m_dropAll = false;
    QTimer m_pass;
    QElapsedTimer m_sincePass;
    qint64 m_pause = 0;
    // Whether entries came since the last pass began.
    bool m_arrived = false;
};

}  // namespace sitowiak::log
