// Token readers for the two body encodings. Both offer the same operations, so the object
// parser is one template over them:
//   next()            the next structural token (names, braces, strings, GUIDs, numbers)
//   read_uint/float   the next number of an object's data, separators skipped
//   skip_guid()       an optional GUID at the start of an object's data
//   numbers_bound()   an upper bound on the numbers left, to check declared counts against
#pragma once

#include "source.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

namespace xfile::detail {

enum class Tok { End, Name, String, Number, OBrace, CBrace, Guid, Template, Other, Error };

// Where both lexers read from and how they fail: the first reason wins, with the
// byte offset in the file (the 16-byte header included).
class LexerBase {
  public:
    bool failed() const { return failed_; }
    Source& source() { return s_; }

  protected:
    LexerBase(Source& s, std::string& error) : s_(s), error_(error) {}

    Tok fail(const char* why) {
        failb(why);
        return Tok::Error;
    }
    Tok fail_keep() {
        failed_ = true;
        return Tok::Error;
    }
    bool failb(const char* why) {
        if (!failed_) error_ = std::string(why) + " at byte " + std::to_string(s_.offset() + 16);
        failed_ = true;
        return false;
    }
    bool failb_keep() {
        failed_ = true;
        return false;
    }

    Source& s_;
    std::string& error_;
    bool failed_ = false;
};

// Text ----------------------------------------------------------------------------------------

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
            const char* q = static_cast<const char*>(std::memchr(p, '>', size_t(e - p)));
            if (!q) return fail("unterminated GUID");
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
        if (!delimited(q)) return failb("expected a number");
        s_.p = q;
        out = uint32_t(v);
        return true;
    }

    bool read_float(float& out) {
        if (!skip_blank()) return eof_in_data();
        const char* p = s_.p;
        const char* b = p + (*p == '+');
        auto r = std::from_chars(b, s_.e, out);
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
            const char* q = static_cast<const char*>(std::memchr(s_.p, '>', size_t(s_.e - s_.p)));
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
        out = inf ? std::copysign(HUGE_VALF, out) : std::nanf("");
        s_.p = q;
        return true;
    }

    bool read_double(double& d) {
        const char* b = s_.p + (*s_.p == '+');
        auto r = std::from_chars(b, s_.e, d);
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

    Tok read_string_token() {
        size_t want = kLookahead * 8;
        for (;;) {
            const char* p = s_.p;
            const char* q = static_cast<const char*>(std::memchr(p + 1, '"', size_t(s_.e - p - 1)));
            if (q) {
                text = std::string_view(p + 1, size_t(q - p - 1));
                s_.p = q + 1;
                return Tok::String;
            }
            if (s_.eof) return fail("unterminated string");
            size_t have = size_t(s_.e - s_.p);
            want = std::max(want, have) * 2;
            if (!s_.refill(want, error_)) return fail_keep();
            if (size_t(s_.e - s_.p) <= have) return fail("string too long");
        }
    }

    bool eof_in_data() {
        if (failed_) return false;
        return failb("file ends inside an object's data");
    }
};

// Binary --------------------------------------------------------------------------------------

class BinaryLexer : public LexerBase {
  public:
    BinaryLexer(Source& s, std::string& error, bool doubles)
        : LexerBase(s, error), fsize_(doubles ? 8 : 4) {}

    std::string_view text;

    Tok next() {
        text = {};
        if (list_left_) {
            if (!need(list_size_)) return Tok::Error;
            s_.p += list_size_;
            --list_left_;
            return Tok::Number;
        }
        for (;;) {
            if (!s_.eof && s_.e - s_.p < 2 && !s_.refill(2, error_)) return fail_keep();
            size_t have = size_t(s_.e - s_.p);
            if (have == 0) return Tok::End;
            if (have < 2) return fail("file ends inside a token");
            uint16_t id = rd16();
            s_.p += 2;
            switch (id) {
            case 1: { // NAME
                uint32_t n;
                if (!u32(n) || !bytes(n)) return Tok::Error;
                text = std::string_view(s_.p, n);
                s_.p += n;
                return Tok::Name;
            }
            case 2: { // STRING + terminator
                uint32_t n;
                if (!u32(n) || !bytes(n)) return Tok::Error;
                text = std::string_view(s_.p, n);
                s_.p += n;
                // The terminator is left for the next call, which treats it as a separator;
                // `text` stays valid because nothing moves the window before that call.
                return Tok::String;
            }
            case 3: // INTEGER
                if (!need(4)) return Tok::Error;
                s_.p += 4;
                return Tok::Number;
            case 5: // GUID
                if (!need(16)) return Tok::Error;
                s_.p += 16;
                return Tok::Guid;
            case 6:
            case 7:
                if (!start_list(id == 7)) return Tok::Error;
                if (list_left_) {
                    s_.p += list_size_;
                    --list_left_;
                    return Tok::Number;
                }
                continue; // empty list
            case 10:
                return Tok::OBrace;
            case 11:
                return Tok::CBrace;
            case 31:
                return Tok::Template;
            default:
                if ((id >= 12 && id <= 20) || (id >= 40 && id <= 52)) return Tok::Other;
                return fail("unknown binary token");
            }
        }
    }

    bool read_uint(uint32_t& out) {
        if (list_left_ && list_float_ == false) {
            if (!need(4)) return false;
            std::memcpy(&out, s_.p, 4);
            s_.p += 4;
            --list_left_;
            return true;
        }
        double d = 0;
        if (!read_number(d)) return false;
        if (!(d >= 0 && d <= 4294967295.0 && d == std::floor(d)))
            return failb("expected a non-negative integer");
        out = uint32_t(d);
        return true;
    }

    bool read_float(float& out) {
        if (list_left_ && list_float_ && fsize_ == 4) {
            if (!need(4)) return false;
            std::memcpy(&out, s_.p, 4);
            s_.p += 4;
            --list_left_;
            return true;
        }
        double d = 0;
        if (!read_number(d)) return false;
        out = float(d);
        return true;
    }

    // Runs of numbers straight out of list tokens where they can be.
    bool read_floats(float* out, size_t n) {
        return read_run(out, n, list_float_ && fsize_ == 4,
                        [this](float& v) { return read_float(v); });
    }

    bool read_uints(uint32_t* out, size_t n) {
        return read_run(out, n, !list_float_, [this](uint32_t& v) { return read_uint(v); });
    }

    bool read_string(std::string& out) {
        for (;;) {
            Tok t = next();
            if (t == Tok::String || t == Tok::Name) {
                out.assign(text);
                return true;
            }
            if (t == Tok::Other) continue;
            if (t == Tok::Error) return false;
            return failb("expected a string");
        }
    }

    void skip_guid() {
        if (list_left_) return;
        if (!s_.eof && s_.e - s_.p < 18 && !s_.refill(18, error_)) {
            failed_ = true;
            return;
        }
        if (s_.e - s_.p >= 18 && rd16() == 5) s_.p += 18;
    }

    size_t numbers_bound() const { return list_left_ + s_.remaining_bound() / 4; }

  private:
    // Copies 4-byte values a run at a time while the current list token holds the
    // kind wanted (direct), else one value at a time through read_one.
    template <class T, class ReadOne>
    bool read_run(T* out, size_t n, bool direct, ReadOne read_one) {
        static_assert(sizeof(T) == 4, "list items are 4 bytes");
        while (n) {
            if (list_left_ && direct) {
                size_t k = std::min({n, list_left_, size_t(s_.e - s_.p) / 4});
                if (k) {
                    std::memcpy(out, s_.p, k * 4);
                    s_.p += k * 4;
                    list_left_ -= k, out += k, n -= k;
                    continue;
                }
            }
            if (!read_one(*out)) return false;
            ++out, --n;
        }
        return true;
    }

    uint16_t rd16() const {
        auto q = reinterpret_cast<const unsigned char*>(s_.p);
        return uint16_t(q[0] | (q[1] << 8));
    }
    bool need(size_t n) {
        if (size_t(s_.e - s_.p) >= n) return true;
        if (!s_.eof && !s_.refill(n, error_)) return failb_keep();
        if (size_t(s_.e - s_.p) >= n) return true;
        return failb("file ends inside a token");
    }
    bool bytes(uint32_t n) {
        if (n > s_.remaining_bound()) return failb("token length larger than the file");
        return need(n);
    }
    bool u32(uint32_t& v) {
        if (!need(4)) return false;
        std::memcpy(&v, s_.p, 4);
        s_.p += 4;
        return true;
    }
    bool start_list(bool floats) {
        uint32_t n;
        if (!u32(n)) return false;
        size_t size = floats ? fsize_ : 4;
        if (n > s_.remaining_bound() / size) return failb("list count larger than the file");
        list_left_ = n;
        list_float_ = floats;
        list_size_ = size;
        return true;
    }
    // The next number of an object's data: from the open list, an INTEGER token, or the
    // start of a new list; separators between them are skipped.
    bool read_number(double& d) {
        for (;;) {
            if (list_left_) {
                if (!need(list_size_)) return false;
                if (!list_float_) {
                    uint32_t v;
                    std::memcpy(&v, s_.p, 4);
                    d = v;
                } else if (list_size_ == 4) {
                    float f;
                    std::memcpy(&f, s_.p, 4);
                    d = f;
                } else {
                    std::memcpy(&d, s_.p, 8);
                }
                s_.p += list_size_;
                --list_left_;
                return true;
            }
            if (!s_.eof && s_.e - s_.p < 2 && !s_.refill(2, error_)) return failb_keep();
            if (s_.e - s_.p < 2) return failb("file ends inside an object's data");
            uint16_t id = rd16();
            if (id == 3) {
                s_.p += 2;
                uint32_t v;
                if (!u32(v)) return false;
                d = v;
                return true;
            }
            if (id == 6 || id == 7) {
                s_.p += 2;
                if (!start_list(id == 7)) return false;
                continue;
            }
            if (id == 19 || id == 20) {
                s_.p += 2;
                continue;
            }
            return failb("expected a number");
        }
    }

    size_t fsize_;
    size_t list_left_ = 0;
    size_t list_size_ = 4;
    bool list_float_ = false;
};

} // namespace xfile::detail
