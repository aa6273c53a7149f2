#include "MimeFields.h"

namespace sitowiak::filter {
namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

// Every search in an article stops at a NUL byte.
bool Ends(std::string_view f, size_t i) {
    return i >= f.size() || f[i] == '\0';
}

// Past blanks, folded line breaks (CR LF before a blank) and comments,
// which may nest and hold quoted pairs. An unclosed comment runs to the
// end of the field.
size_t SkipBlanks(std::string_view f, size_t i) {
    for (;;) {
        if (Ends(f, i)) return i;
        char c = f[i];
        if (c == ' ' || c == '\t') {
            ++i;
        } else if (c == '\r' && i + 2 < f.size() && f[i + 1] == '\n' &&
                   (f[i + 2] == ' ' || f[i + 2] == '\t')) {
            i += 2;
        } else if (c == '(') {
            int depth = 0;
            for (; !Ends(f, i); ++i) {
                if (f[i] == '\\' && !Ends(f, i + 1)) {
                    ++i;
                } else if (f[i] == '(') {
                    ++depth;
                } else if (f[i] == ')' && --depth == 0) {
                    ++i;
                    break;
                }
            }
        } else {
            return i;
        }
    }
}

// A MIME token ends at a blank, a line end, a NUL or one of the specials
// that matter between parameters (F1, F3: ";" and white space end it).
bool EndsToken(char c) {
    return c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0' || c == '=' ||
           c == '(' || c == '"';
}

size_t TokenEnd(std::string_view f, size_t i) {
    while (i < f.size() && !EndsToken(f[i])) ++i;
    return i;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// RFC 2231: charset'language'percent-encoded text.
std::string ExtendedValue(std::string_view v) {
    size_t first = v.find('\'');
    size_t second = first == v.npos ? v.npos : v.find('\'', first + 1);
    if (second == v.npos) return std::string(v);
    std::string_view text = v.substr(second + 1);
    if (text.empty()) return std::string(v.substr(0, first));
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

}  // namespace

bool IsFieldNamed(std::string_view line, std::string_view name) {
    if (line.size() < name.size() || !SameLetters(line.substr(0, name.size()), name)) return false;
    size_t i = name.size();
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    return i < line.size() && line[i] == ':';
}

size_t FieldValueStart(std::string_view field) {
    size_t colon = field.find(':');
    if (colon == field.npos) return field.size();
    return SkipBlanks(field, colon + 1);
}

std::optional<MimeParameter> FindMimeParameter(std::string_view field, std::string_view name) {
    // Past the value itself (the type); a parameter may follow without
    // its ";", as some clients write it.
    size_t i = TokenEnd(field, FieldValueStart(field));
    while (!Ends(field, i)) {
        // At a ";" (or where the last parameter's text stopped).
        if (field[i] == ';') ++i;
        i = SkipBlanks(field, i);
        size_t start = i;
        size_t nameEnd = TokenEnd(field, i);
        if (nameEnd == start) {
            // Not a parameter: on to the next ";".
            if (Ends(field, i) || field[i] == ';') continue;
            ++i;
            continue;
        }
        std::string_view attribute = field.substr(start, nameEnd - start);
        i = SkipBlanks(field, nameEnd);
        if (Ends(field, i) || field[i] != '=') continue;
        i = SkipBlanks(field, i + 1);
        std::string value;
        bool closed = true;
        if (!Ends(field, i) && field[i] == '"') {
            size_t j = i + 1;
            for (; !Ends(field, j) && field[j] != '"'; ++j) {
                if (field[j] == '\\' && !Ends(field, j + 1)) ++j;
                if (field[j] == '\r' && j + 1 < field.size() && field[j + 1] == '\n') {
                    // A folded line break inside quotes is only the fold;
                    // the field's end ends a value that is never closed.
                    if (j + 2 >= field.size() || (field[j + 2] != ' ' && field[j + 2] != '\t'))
                        break;
                    ++j;
                    continue;
                }
                value += field[j];
            }
            closed = !Ends(field, j) && field[j] == '"';
            i = closed ? j + 1 : j;
        } else {
            size_t j = TokenEnd(field, i);
            // "=" may stand inside an unquoted value (base64 boundaries).
            while (!Ends(field, j) && field[j] == '=') j = TokenEnd(field, j + 1);
            value = std::string(field.substr(i, j - i));
            i = j;
        }
        bool plain = SameLetters(attribute, name);
        bool extended = !plain && attribute.size() == name.size() + 1 && attribute.back() == '*' &&
                        SameLetters(attribute.substr(0, name.size()), name);
        if (plain || extended)
            return MimeParameter{start, i, extended ? ExtendedValue(value) : value, closed};
    }
    return std::nullopt;
}

}  // namespace sitowiak::filter
