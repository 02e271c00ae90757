// The text body's tokens: words, numbers, strings, GUIDs and punctuation, with the lenient
// separators and comments real exporters write.
#pragma once

#include "lexer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

namespace xfile::detail {

class TextLexer : public LexerBase {
  public:
    TextLexer(Source& s, std::string& error) : LexerBase(s, error) {}

    std::string_view text; // Name or String: valid until the next call

    Tok next() {
        if (!skip_blank()) return failed_ ? Tok::Error : Tok::End;
        const char* p = s_.p;
        const char* e = s_.e;
        char c = *p;
        switch (c) {
        case '{':
            s_.p = p + 1;
            return Tok::OBrace;
        case '}':
            s_.p = p + 1;
            return Tok::CBrace;
        case '[':
        case ']':
        case '(':
        case ')':
            s_.p = p + 1;
            return Tok::Other;
        case '<': {
            const char* q = find_ahead(1, '>');
            if (!q) return failed_ ? Tok::Error : fail("unterminated GUID");
            s_.p = q + 1;
            return Tok::Guid;
        }
        case '"':
            return read_string_token();
        default:
            break;
        }
        if (!word_char(c)) return fail("unexpected character");
        const char* q = p + 1;
        for (;;) {
            while (q < e && word_char(*q) && !(q[0] == '/' && q + 1 < e && q[1] == '/'))
                ++q;
            if (q < e || s_.eof) break;
            size_t len = size_t(q - p); // the word reaches the end of the window: widen it
            if (!s_.refill(len * 2 + kLookahead, error_)) return fail_keep();
            if (size_t(s_.e - s_.p) <= len) return fail("token too long");
            p = s_.p;
            e = s_.e;
            q = p + len;
        }
        text = std::string_view(p, size_t(q - p));
        s_.p = q;
        if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') {
            double d;
            const char* b = p + (c == '+');
            auto r = std::from_chars(b, q, d);
            if (r.ptr == q && r.ec != std::errc::invalid_argument) return Tok::Number;
        }
        return Tok::Name;
    }

    bool read_uint(uint32_t& out) {
        if (!skip_blank()) return eof_in_data();
        const char* p = s_.p;
        const char* e = s_.e;
        const char* q = p + (*p == '+');
        uint64_t v = 0;
        const char* d0 = q;
        while (q < e && unsigned(*q - '0') < 10) {
            v = v * 10 + unsigned(*q - '0');
            if (v > 0xffffffffu) return failb("integer out of range");
            ++q;
        }
        if (q == d0 || (q < e && (*q == '.' || *q == 'e' || *q == 'E'))) {
            double d;
            if (!read_double(d)) return false;
            if (!(d >= 0 && d <= 4294967295.0 && d == std::floor(d)))
                return failb("expected a non-negative integer");
            out = uint32_t(d);
            return true;
        }
        if (cut(q)) return reread(out);
        if (!delimited(q)) return failb("expected a number");
        s_.p = q;
        out = uint32_t(v);
        return true;
    }

    bool read_float(float& out) {
        if (!skip_blank()) return eof_in_data();
        const char* p = s_.p;
        const char* b = p + (*p == '+');
        if (const char* q = plain_decimal(b, s_.e, out)) {
            if (cut(q)) return reread(out);
            s_.p = q;
            return true;
        }
        auto r = std::from_chars(b, s_.e, out);
        if (cut(r.ptr)) return reread(out);
        if (r.ec == std::errc() && delimited(r.ptr)) {
            if (r.ptr < s_.e && *r.ptr == '#') return msvc_special(r.ptr, out);
            s_.p = r.ptr;
            return true;
        }
        double d;
        if (!read_double(d)) return false;
        out = float(d); // underflow to zero; overflow becomes inf, rejected by the caller
        return true;
    }

    bool read_floats(float* out, size_t n) {
        for (size_t i = 0; i < n; ++i)
            if (!read_float(out[i])) return false;
        return true;
    }

    bool read_uints(uint32_t* out, size_t n) {
        for (size_t i = 0; i < n; ++i)
            if (!read_uint(out[i])) return false;
        return true;
    }

    bool read_string(std::string& out) {
        Tok t = next();
        if (t == Tok::String || t == Tok::Name) {
            out.assign(text);
            return true;
        }
        if (t == Tok::Error) return false;
        return failb("expected a string");
    }

    void skip_guid() {
        if (!skip_blank()) return;
        if (*s_.p == '<') {
            const char* q = find_ahead(1, '>');
            if (q) s_.p = q + 1;
        }
    }

    size_t numbers_bound() const { return (s_.remaining_bound() + 1) / 2; }

  private:
    static constexpr size_t kLookahead = 512;

    static bool word_char(char c) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7f) return false;
        switch (c) {
        case '{':
        case '}':
        case '[':
        case ']':
        case '(':
        case ')':
        case '<':
        case '>':
        case '"':
        case ';':
        case ',':
        case '#':
            return false;
        default:
            return true;
        }
    }

    // The common "-0.0140120955": at most 19 digits and a point, no exponent. Its digits as an
    // integer below 2^53 over a power of ten up to 1e22 give the correctly rounded double, and
    // that double rounds to the correctly rounded float unless it lies exactly halfway between
    // two floats, so the result is from_chars's. The end of the number, or null for from_chars.
    const char* plain_decimal(const char* p, const char* e, float& out) const {
        static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        const bool neg = p < e && *p == '-';
        const char* q = p + neg;
        uint64_t m = 0;
        int digits = 0, frac = -1;
        for (; q < e; ++q) {
            const unsigned c = unsigned(*q - '0');
            if (c < 10) {
                m = m * 10 + c;
                ++digits;
                frac += frac >= 0;
            } else if (*q == '.' && frac < 0) {
                frac = 0;
            } else {
                break;
            }
        }
        if (digits == 0 || digits > 19 || m > (uint64_t(1) << 53) || frac > 22) return nullptr;
        if (q < e && (*q == 'e' || *q == 'E' || *q == '#' || !delimited(q))) return nullptr;
        const double d = double(m) / kPow10[frac < 0 ? 0 : frac];
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        if ((bits & 0x1fffffff) == 0x10000000) return nullptr; // halfway: rounded twice
        out = neg ? -float(d) : float(d);
        return q;
    }

    // A number read up to (or an exponent or "//" cut off at) the end of a window that more body
    // follows may go on past it: the window is widened and the number read again, as a body
    // whole in memory would read it. The reread is out of line so the readers stay inlined.
    bool cut(const char* q) const { return s_.e - q <= 2 && !s_.eof; }
    [[gnu::noinline]] bool widen() {
        const size_t have = size_t(s_.e - s_.p);
        if (!s_.refill(have * 2 + kLookahead, error_)) return failb_keep();
        if (size_t(s_.e - s_.p) <= have && !s_.eof) return failb("number too long");
        return true;
    }
    [[gnu::noinline]] bool reread(uint32_t& out) { return widen() && read_uint(out); }
    [[gnu::noinline]] bool reread(float& out) { return widen() && read_float(out); }
    [[gnu::noinline]] bool reread(double& out) { return widen() && read_double(out); }

    bool delimited(const char* q) const {
        if (q >= s_.e) return true;
        if (!word_char(*q)) return true;
        return q[0] == '/' && q + 1 < s_.e && q[1] == '/';
    }

    // "1.#QNAN0", "-1.#IND00", "1.#INF00": how some C runtimes print NaN and infinity. Read
    // as what they mean (for the caller to refuse or repair), not as a number and a comment.
    bool msvc_special(const char* hash, float& out) {
        const char* q = hash + 1;
        while (q < s_.e &&
               ((*q >= 'A' && *q <= 'Z') || (*q >= 'a' && *q <= 'z') || (*q >= '0' && *q <= '9')))
            ++q;
        bool inf = q - hash >= 4 && (hash[1] == 'I' || hash[1] == 'i') &&
                   (hash[2] == 'N' || hash[2] == 'n') && (hash[3] == 'F' || hash[3] == 'f');
        if (cut(q)) return reread(out);
        out = inf ? std::copysign(HUGE_VALF, out) : std::nanf("");
        s_.p = q;
        return true;
    }

    bool read_double(double& d) {
        const char* b = s_.p + (*s_.p == '+');
        auto r = std::from_chars(b, s_.e, d);
        if (cut(r.ptr)) return reread(d);
        if (r.ec == std::errc::invalid_argument || !delimited(r.ptr))
            return failb("expected a number");
        if (r.ec == std::errc::result_out_of_range) {
            // Tell underflow (read as zero) from overflow by the exponent's sign.
            const char* x = b;
            while (x < r.ptr && *x != 'e' && *x != 'E')
                ++x;
            if (x + 1 < r.ptr && x[1] == '-')
                d = 0;
            else
                return failb("number out of range");
        }
        s_.p = r.ptr;
        return true;
    }

    // Skips white space, separators and comments. False at the end of the body (or an error).
    bool skip_blank() {
        for (;;) {
            const char* p = s_.p;
            const char* e = s_.e;
            while (p < e) {
                char c = *p;
                if (static_cast<unsigned char>(c) <= ' ' || c == ';' || c == ',') {
                    ++p;
                    continue;
                }
                if (c == '#' || (c == '/' && p + 1 < e && p[1] == '/')) {
                    const char* nl = eol(p, e);
                    if (!nl) {
                        p = e; // comment runs on into the next window
                        s_.p = p;
                        if (!more()) return false;
                        p = s_.p;
                        e = s_.e;
                        // still inside the comment: keep skipping to its end of line
                        for (;;) {
                            nl = eol(p, e);
                            if (nl) break;
                            s_.p = e;
                            if (!more()) return false;
                            p = s_.p;
                            e = s_.e;
                        }
                    }
                    p = nl + 1;
                    continue;
                }
                if (c == '/' && p + 1 == e && !s_.eof) break; // may start a comment
                s_.p = p;
                if (!s_.eof && size_t(e - p) < kLookahead && !s_.refill(kLookahead * 8, error_))
                    return failb_keep();
                return true;
            }
            s_.p = p;
            if (s_.eof && p == e) return false;
            if (!s_.refill(kLookahead * 8, error_)) return failb_keep();
            if (s_.p == s_.e && s_.eof) return false;
        }
    }

    // End of a comment line: LF, CR LF or a lone CR.
    static const char* eol(const char* p, const char* e) {
        for (; p < e; ++p)
            if (*p == '\n' || *p == '\r') return p;
        return nullptr;
    }

    bool more() {
        if (s_.eof) return false;
        if (!s_.refill(kLookahead * 8, error_)) return failb_keep();
        return s_.p < s_.e;
    }

    // The first c at or after p + skip, the window widened as far as needed (so a windowed
    // body finds what the whole body would); null when the body has none or on an error.
    const char* find_ahead(size_t skip, char c) {
        size_t want = kLookahead * 8;
        for (;;) {
            const char* from = s_.p + skip;
            const void* q = std::memchr(from, c, size_t(s_.e - from));
            if (q || s_.eof) return static_cast<const char*>(q);
            const size_t have = size_t(s_.e - s_.p);
            want = std::max(want, have) * 2;
            if (!s_.refill(want, error_)) {
                failed_ = true;
                return nullptr;
            }
            if (size_t(s_.e - s_.p) <= have) return nullptr;
        }
    }

    Tok read_string_token() {
        const char* q = find_ahead(1, '"');
        if (!q) {
            if (failed_) return fail_keep();
            return fail(s_.eof ? "unterminated string" : "string too long");
        }
        text = std::string_view(s_.p + 1, size_t(q - s_.p - 1));
        s_.p = q + 1;
        return Tok::String;
    }

    bool eof_in_data() {
        if (failed_) return false;
        return failb("file ends inside an object's data");
    }
};

} // namespace xfile::detail
