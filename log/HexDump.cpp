#include "HexDump.h"

#include <cstdint>

namespace sitowiak::log {
namespace {

constexpr size_t kBytesPerLine = 16;
constexpr char kDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& out, unsigned value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += kDigits[(value >> shift) & 0xF];
}

void AppendLine(std::string& out, std::string_view line, uint16_t offset) {
    AppendHex(out, offset, 4);
    out += ' ';
    for (size_t i = 0; i < line.size(); ++i) {
        AppendHex(out, static_cast<unsigned char>(line[i]), 2);
        out += i == 7 ? '-' : ' ';
    }
    out.append(3 * (kBytesPerLine - line.size()), ' ');
    // A byte of a UTF-8 sequence shown as itself would join its neighbours
    // into one character and shift the columns: only ASCII shows as is.
    for (char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        out += byte < 0x20 || byte >= 0x7F ? '.' : c;
    }
    out += "\r\n";
}

}  // namespace

std::string HexDump(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() / kBytesPerLine + 1) * 71);
    uint16_t offset = 0;
    for (size_t start = 0; start < bytes.size(); start += kBytesPerLine) {
        AppendLine(out, bytes.substr(start, kBytesPerLine), offset);
        offset = static_cast<uint16_t>(offset + kBytesPerLine);
    }
    return out;
}

}  // namespace sitowiak::log
