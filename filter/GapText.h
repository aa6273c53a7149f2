// GapText: the content of a TBuforDyn seen as one text with a gap in it, so
// that the article scanner can rewrite in one pass what Part 2.3 rewrites
// one edit at a time (each edit there moves the whole tail of the buffer).
//
//   Data                 W          R                  E (= buffer Length)
//   | written text       |   gap    | text not yet seen |NUL|
//   positions:  0 ... W-1            W ...  (logical = physical - gap)
//
// Positions are logical: the text is [0, W) followed by [R, E). The scanner
// keeps the gap at the line it examines, so every edit it makes falls on the
// gap or behind it: edits behind it move only the bytes between the edit and
// the gap (within one part of an article), and moving the gap forward moves
// each byte once. When an edit needs more room than the gap has, the buffer
// grows by the need plus a sixteenth of its size, so regrowth is rare and
// the cost stays linear. Close() removes the gap and leaves a normal buffer.
//
// Positions registered with Track() follow every edit as Part 2.3 wants:
// a position at or after the end of a changed range moves by the change in
// length; one inside a removed range moves to its start.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "TBuforDyn.h"

namespace sitowiak::filter {

constexpr size_t kNoPosition = static_cast<size_t>(-1);

class GapText {
public:
    GapText(TBuforDyn& buffer, size_t start);

    size_t Size() const { return m_end - Gap(); }
    size_t GapStart() const { return m_write; }
    // The byte at p; 0 at and after the end (the buffer's closing NUL).
    char At(size_t p) const;
    // The text at p begins with x, comparing ASCII letters without regard
    // to case and stopping at a NUL byte (Part 2.3's "begins with").
    bool BeginsWith(size_t p, std::string_view x) const;
    // The bytes [a, b), which lie wholly behind the gap or wholly after it.
    // Valid until the next edit.
    std::string_view View(size_t a, size_t b) const;

    void Track(size_t* position) { m_tracked.push_back(position); }

    // Moves the gap forward to p (p >= GapStart()).
    void MoveGapTo(size_t p);
    // Replaces [a, b) by text; b <= GapStart().
    void Replace(size_t a, size_t b, std::string_view text);
    // Replaces the `count` bytes right after the gap by the shorter `text`.
    void ShrinkAhead(size_t count, std::string_view text);
    // Removes the gap; the buffer's length is then the text's, with its NUL.
    void Close();

private:
    size_t Gap() const { return m_read - m_write; }
    void Reserve(size_t need);
    void Shift(size_t a, size_t b, ptrdiff_t delta);

    TBuforDyn& m_buffer;
    size_t m_write;  // W: start of the gap
    size_t m_read;   // R: end of the gap
    size_t m_end;    // E: end of the physical content
    std::vector<size_t*> m_tracked;
};

}  // namespace sitowiak::filter
