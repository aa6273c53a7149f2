// The traffic log window: a read-only text box of coloured entries, each a
// header line with the date, time and title followed by the logged bytes as
// text or as a hex dump, and a context menu to copy or clear the log and to
// set four switches. It is created hidden, shows itself with each entry,
// and closing it only hides it.
//
// The log is bounded: past LogLimits the oldest entries go, and one entry
// shows at most maxEntryBytes of its bytes. Adding an entry appends to the
// end of the document without laying out what is already there, so its
// cost depends on the entry, not on the log, and memory stays bounded.
#pragma once

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QWidget>

#include <deque>

#include "log/LogSink.h"
#include "log/LogText.h"

namespace sitowiak::log {

// The text control lays out every line added and keeps it: measured here,
// 4 Mi characters of log take about 150 MB, and an entry of 64 KiB shown as
// a hex dump (4096 lines) takes about a tenth of a second to add.
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
    int EntryCount() const { return static_cast<int>(m_entries.size()); }

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
    // Where one entry lies: a blank separator line or not, then its lines.
    struct Extent {
        bool separator;
        int lines;
        qsizetype chars;
    };

    void CreateLogWnd();
    void CreatePopupMenu();
    QString EntryText(const std::string& text) const;
    void Append(const QString& entry);
    // Drops the oldest entries past the limits; returns the characters
    // removed from the front.
    qsizetype TrimToLimits();
    qsizetype DropOldest(size_t count);
    void PlaceCaret(qsizetype position);

    LogLimits m_limits;
    HeaderClock m_clock;
    Rgb m_entryColor = 0x000000;
    std::string m_entryTitle;
    std::deque<Extent> m_entries;
};

}  // namespace sitowiak::log
