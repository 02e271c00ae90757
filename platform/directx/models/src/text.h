// A cursor over text for the line-based formats: words, numbers and line ends, no copies.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace models::detail {

inline bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}
inline bool is_space(char c) {
    return is_blank(c) || c == '\n' || c == '\r';
}

inline bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

struct Text {
    const char* p;
    const char* e;
    const char* begin;

    Text(const uint8_t* data, size_t size)
        : p(reinterpret_cast<const char*>(data)), e(p + size), begin(p) {
        if (size >= 3 && std::string_view(p, 3) == "\xEF\xBB\xBF") p += 3; // UTF-8 mark
    }

    size_t offset() const { return size_t(p - begin); }
    size_t left() const { return size_t(e - p); }
    bool end() const { return p == e; }

    void skip_blanks() {
        while (p < e && is_blank(*p))
            ++p;
    }
    void skip_space() {
        while (p < e && is_space(*p))
            ++p;
    }
    // After skip_blanks: nothing more on this line.
    bool at_eol() const { return p == e || *p == '\n' || *p == '\r' || *p == '#'; }
    void next_line() {
        while (p < e && *p != '\n')
            ++p;
        if (p < e) ++p;
    }
    // The next run of non-space characters on the line (empty at its end).
    std::string_view word() {
        skip_blanks();
        const char* b = p;
        while (p < e && !is_space(*p))
            ++p;
        return {b, size_t(p - b)};
    }
    // Any whitespace, line ends included, separates tokens.
    std::string_view token() {
        skip_space();
        const char* b = p;
        while (p < e && !is_space(*p))
            ++p;
        return {b, size_t(p - b)};
    }

    template <class T> bool number(T& out) {
        skip_blanks();
        return parse_here(out);
    }
    template <class T> bool number_any_line(T& out) {
        skip_space();
        return parse_here(out);
    }

  private:
    template <class T> bool parse_here(T& out) {
        const char* b = p;
        if (b < e && *b == '+') ++b; // from_chars takes no plus sign
        auto r = std::from_chars(b, e, out);
        if (r.ec != std::errc() || (r.ptr < e && !is_space(*r.ptr) && *r.ptr != '/')) return false;
        p = r.ptr;
        return true;
    }
};

inline std::string at_line(const Text& t) {
    size_t line = 1;
    for (const char* q = t.begin; q < t.p; ++q)
        line += *q == '\n';
    return " on line " + std::to_string(line);
}

} // namespace models::detail
