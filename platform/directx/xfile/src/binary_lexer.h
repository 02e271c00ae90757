// The binary body's tokens (binary_tokens.h), with runs of numbers copied straight out of
// list tokens.
#pragma once

#include "binary_tokens.h"
#include "lexer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

namespace xfile::detail {

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
            if (have < 2) {
                // A body too short for any token (a lone line break) holds nothing.
                if (s_.offset() == 0) return Tok::End;
                return fail("file ends inside a token");
            }
            const BinTok id = rd16();
            s_.p += 2;
            switch (id) {
            case BinTok::Name: {
                uint32_t n;
                if (!u32(n) || !bytes(n)) return Tok::Error;
                text = std::string_view(s_.p, n);
                s_.p += n;
                return Tok::Name;
            }
            case BinTok::String: {
                uint32_t n;
                if (!u32(n) || !bytes(n)) return Tok::Error;
                text = std::string_view(s_.p, n);
                s_.p += n;
                // The terminator is left for the next call, which treats it as a separator;
                // `text` stays valid because nothing moves the window before that call.
                return Tok::String;
            }
            case BinTok::Integer:
                if (!need(4)) return Tok::Error;
                s_.p += 4;
                return Tok::Number;
            case BinTok::Guid:
                if (!need(16)) return Tok::Error;
                s_.p += 16;
                return Tok::Guid;
            case BinTok::IntegerList:
            case BinTok::FloatList:
                if (!start_list(id == BinTok::FloatList)) return Tok::Error;
                if (list_left_) {
                    // The list's first item may lie past the window (checked, not yet read).
                    if (!need(list_size_)) return Tok::Error;
                    s_.p += list_size_;
                    --list_left_;
                    return Tok::Number;
                }
                continue; // empty list
            case BinTok::OBrace:
                return Tok::OBrace;
            case BinTok::CBrace:
                return Tok::CBrace;
            case BinTok::Template:
                return Tok::Template;
            default:
                if (punctuation(id) || (id >= BinTok::Word && id <= BinTok::Array))
                    return Tok::Other;
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
        return read_run<true>(out, n, [this](float& v) { return read_float(v); });
    }

    bool read_uints(uint32_t* out, size_t n) {
        return read_run<false>(out, n, [this](uint32_t& v) { return read_uint(v); });
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
        if (s_.e - s_.p >= 18 && rd16() == BinTok::Guid) s_.p += 18;
    }

    size_t numbers_bound() const { return list_left_ + s_.remaining_bound() / 4; }

  private:
    // Copies 4-byte values a run at a time while the open list holds 4-byte items of the kind
    // wanted, else one value at a time through read_one. The kind is checked afresh on every
    // step: a run can cross into a list of another kind (or 8-byte floats), whose items are
    // converted, never copied as raw bits.
    template <bool Floats, class T, class ReadOne>
    bool read_run(T* out, size_t n, ReadOne read_one) {
        static_assert(sizeof(T) == 4, "list items are 4 bytes");
        while (n) {
            if (list_left_ && list_float_ == Floats && list_size_ == 4) {
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

    BinTok rd16() const {
        auto q = reinterpret_cast<const unsigned char*>(s_.p);
        return BinTok(q[0] | (q[1] << 8));
    }
    static bool punctuation(BinTok id) { return id >= BinTok::OParen && id <= BinTok::Semicolon; }
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
            const BinTok id = rd16();
            if (id == BinTok::Integer) {
                s_.p += 2;
                uint32_t v;
                if (!u32(v)) return false;
                d = v;
                return true;
            }
            if (id == BinTok::IntegerList || id == BinTok::FloatList) {
                s_.p += 2;
                if (!start_list(id == BinTok::FloatList)) return false;
                continue;
            }
            if (id == BinTok::Comma || id == BinTok::Semicolon) {
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
