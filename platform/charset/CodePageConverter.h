// One converter per code page, kept for the thread's life: the ICU converter
// named by the code page table, or a table of our own where ICU has none.
// Internal to the platform layer; CodePage.h is the interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace sitowiak::platform {

class CodePageConverter {
public:
    virtual ~CodePageConverter() = default;

    // The thread's converter for `codePage`, or nullptr when the code page is
    // unknown or cannot be opened. The converter's state is reset on return.
    static CodePageConverter* For(uint32_t codePage);

    // Streaming conversions in the style of ucnv_toUnicode/ucnv_fromUnicode:
    // consume from src, write to dst, advance both. Return false when dst is
    // full before src is consumed (call again with more room). `flush` marks
    // the last piece of the input: an incomplete sequence at its end is then
    // converted as invalid input, and stateful encoders close their state.
    virtual bool ToWide(const char*& src, const char* srcEnd, char16_t*& dst, char16_t* dstEnd,
                        bool flush) = 0;
    virtual bool FromWide(const char16_t*& src, const char16_t* srcEnd, char*& dst, char* dstEnd,
                          bool flush) = 0;
    virtual void Reset() = 0;
    // Most bytes that one UTF-16 code unit can become (state changes included).
    virtual size_t MaxBytesPerUnit() const = 0;

    bool AsciiTransparent() const { return m_asciiTransparent; }
    // Stateless, one byte to one code unit and back (every byte decodes to
    // a BMP character that is not a surrogate).
    virtual bool SingleByte() const { return false; }

protected:
    void ProbeAsciiTransparency();

private:
    bool m_asciiTransparent = false;
};

}  // namespace sitowiak::platform
