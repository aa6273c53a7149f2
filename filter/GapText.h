// GapText: the content of a TBuforDyn seen as one text with a gap in it, so
// that the article scanner can rewrite in one pass what a plain rewriting
// does one edit at a time (each edit there moves the whole tail of the
// buffer; tests/ReferenceRewriter.h is that rewriting).
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
// Memory budget: the text may grow to 4 times its size at the start plus
// 1 MiB (re-encoding a body of 8-bit bytes read as us-ascii into UTF-8
// triples it). Input that is not one article can grow without end (a plain
// body re-encoded again at each of many ".\r\n" lines); an edit past the
// budget throws std::bad_alloc, which the scanner treats as exhausted memory.
//
// Positions registered with Track() follow every edit, as the scanner needs:
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
    // to case and stopping at a NUL byte (every "begins with" in an article).
    bool BeginsWith(size_t p, std::string_view x) const;
    // The bytes [a, b), which lie wholly behind the gap or wholly after it.
    // Valid until the next edit.
    std::string_view View(size_t a, size_t b) const;

    void Track(size_t* position) { m_tracked.push_back(position); }
    // Stops following the `count` positions tracked last.
    void Untrack(size_t count) { m_tracked.resize(m_tracked.size() - count); }
    // Counts the edits behind the gap (Replace, Resize), so that a reader can
    // tell whether text it has looked at may have changed.
    unsigned long EditCount() const { return m_edits; }

    // Moves the gap forward to p (p >= GapStart()).
    void MoveGapTo(size_t p);
    // Replaces [a, b) by text; b <= GapStart().
    void Replace(size_t a, size_t b, std::string_view text);
    // Makes [a, b) `length` bytes long, b <= GapStart(); the old bytes stay
    // where they were (as far as the new range reaches) and the rest is
    // undefined until the caller fills it. Returns the range's first byte.
    char* Resize(size_t a, size_t b, size_t length);
    // Replaces the `count` bytes right after the gap by the shorter `text`.
    void ShrinkAhead(size_t count, std::string_view text);
    // Removes the gap; the buffer's length is then the text's, with its NUL.
    void Close();

private:
    size_t Gap() const { return m_read - m_write; }
    void Reserve(size_t need);
    void Shift(size_t a, size_t b, ptrdiff_t delta);

    TBuforDyn& m_buffer;
    size_t m_write;   // W: start of the gap
    size_t m_read;    // R: end of the gap
    size_t m_end;     // E: end of the physical content
    size_t m_budget;  // largest Size() an edit may reach
    std::vector<size_t*> m_tracked;
    unsigned long m_edits = 0;
};

}  // namespace sitowiak::filter
