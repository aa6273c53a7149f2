#include "DotStuffing.h"

namespace sitowiak::filter {

std::string Unstuffed(std::string_view body) {
    std::string out;
    out.reserve(body.size());
    bool lineStart = true;
    for (size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (lineStart && c == '.') {
            lineStart = false;
            continue;
        }
        out += c;
        lineStart = c == '\n' && i > 0 && body[i - 1] == '\r';
    }
    return out;
}

void AppendStuffed(std::string_view text, std::string& out, bool& atLineStart) {
    out.reserve(out.size() + text.size() + text.size() / 32 + 2);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            atLineStart = true;
            continue;
        }
        if (atLineStart && c == '.') out += '.';
        out += c;
        atLineStart = false;
    }
}

void AppendDotsStuffed(std::string_view bytes, std::string& out, bool& atLineStart) {
    for (const char c : bytes) {
        if (atLineStart && c == '.') out += '.';
        out += c;
        atLineStart = c == '\n' && out.size() >= 2 && out[out.size() - 2] == '\r';
    }
}

}  // namespace sitowiak::filter
