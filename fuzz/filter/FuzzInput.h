// The first bytes of a fuzz input choose the options; the rest is the
// buffer's content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "filter/TBuforDyn.h"

namespace sitowiak::fuzz {

// Forced charsets for the overview fuzzers: none, the usual ones, stateful
// ones that take the UTF-16 road, and one the database does not know.
inline constexpr const char* kOverviewCharsets[] = {
    "", "utf-8", "windows-1250", "iso-8859-2", "us-ascii", "iso-2022-jp", "UTF-7", "x-unknown"};

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    template <size_t N>
    const char* Choose(const char* const (&items)[N]) {
        return items[Byte() % N];
    }
    std::string Rest() const {
        return std::string(reinterpret_cast<const char*>(m_data) + m_pos,
                           m_size - std::min(m_pos, m_size));
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

inline void Load(filter::TBuforDyn& buffer, const std::string& text) {
    buffer.SetLength(static_cast<int32_t>(text.size()));
    if (!text.empty()) std::memcpy(buffer.Data(), text.data(), text.size());
    buffer.Data()[text.size()] = 0;
}

inline size_t AfterFirstCrLf(const std::string& text) {
    size_t eol = text.find("\r\n");
    return eol == std::string::npos ? text.size() : eol + 2;
}

}  // namespace sitowiak::fuzz
