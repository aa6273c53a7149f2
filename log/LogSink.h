// What the proxy writes its traffic log to. The log window implements it;
// the proxy core knows only this interface, so relays run and are tested
// without windows. All calls come from the GUI thread.
#pragma once

#include <cstdint>
#include <string>

namespace sitowiak::log {

// A colour as 0xRRGGBB.
using Rgb = uint32_t;

class LogSink {
public:
    virtual ~LogSink() = default;

    // Colour and title of the following entries.
    virtual void SetEntryStyle(Rgb color, const std::string& title) = 0;
    // The title alone; the colour stays as last set.
    virtual void SetEntryTitle(const std::string& title) = 0;
    // Appends one entry: a header line with the date, time and title, then
    // the bytes (up to their first zero byte) as text or as a hex dump.
    virtual void AddEntry(const std::string& text) = 0;
    // The "&LineMode" switch, read when a relay starts.
    virtual bool LineModeChecked() const = 0;
};

}  // namespace sitowiak::log
