#include "json.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace models::detail::json {
namespace {

bool ws(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool digit(char c) {
    return c >= '0' && c <= '9';
}
int hex(char c) {
    if (digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Parser {
  public:
    Parser(const char* t, size_t n, int max_depth, std::vector<Value>& out, std::string& error)
        : t_(t), n_(n), max_depth_(size_t(max_depth > 0 ? max_depth : 1)), v_(out), error_(error) {}

    bool run() {
        bool need_value = true; // else: a value just ended
        uint32_t key = 0, key_len = 0;
        for (;;) {
            skip();
            if (need_value) {
                if (!value(key, key_len)) return false;
                key = key_len = 0;
                need_value = false;
                if (open_) { // a container just opened: it may close at once
                    open_ = false;
                    skip();
                    if (at(v_[stack_.back()].kind == Kind::Object ? '}' : ']')) {
                        close();
                        continue;
                    }
                    if (v_[stack_.back()].kind == Kind::Object && !member(key, key_len))
                        return false;
                    need_value = true;
                }
                continue;
            }
            if (stack_.empty()) {
                if (i_ != n_) return fail("text after the JSON value");
                return true;
            }
            const bool object = v_[stack_.back()].kind == Kind::Object;
            if (at(',')) {
                ++i_;
                skip();
                if (object && !member(key, key_len)) return false;
                need_value = true;
            } else if (at(object ? '}' : ']')) {
                close();
            } else {
                return fail(object ? "expected , or }" : "expected , or ]");
            }
        }
    }

  private:
    bool fail(const char* why) {
        error_ = std::string("glTF JSON: ") + why + " at byte " + std::to_string(i_);
        return false;
    }
    void skip() {
        while (i_ < n_ && ws(t_[i_]))
            ++i_;
    }
    bool at(char c) const { return i_ < n_ && t_[i_] == c; }
    void close() {
        ++i_;
        v_[stack_.back()].end = uint32_t(v_.size());
        stack_.pop_back();
    }

    // `"name" :` before an object's member value.
    bool member(uint32_t& key, uint32_t& key_len) {
        if (!at('"')) return fail("expected a member name");
        if (!string(key, key_len)) return false;
        skip();
        if (!at(':')) return fail("expected :");
        ++i_;
        return true;
    }

    bool string(uint32_t& off, uint32_t& len) {
        // Plain characters are most of a file (a data URI is one long string): skip them fast.
        static const std::array<bool, 256> plain = [] {
            std::array<bool, 256> t;
            for (size_t c = 0; c < 256; ++c)
                t[c] = c >= 0x20 && c != '"' && c != '\\';
            return t;
        }();
        const size_t b = ++i_;
        for (;;) {
            const char *q = t_ + i_, *e = t_ + n_;
            while (q < e && plain[static_cast<unsigned char>(*q)])
                ++q;
            i_ = size_t(q - t_);
            if (i_ >= n_) return fail("unterminated string");
            const char c = t_[i_];
            if (c == '"') break;
            if (static_cast<unsigned char>(c) < 0x20) return fail("control character in a string");
            if (c == '\\') {
                if (i_ + 1 >= n_) return fail("unterminated string");
                const char e = t_[i_ + 1];
                if (e == 'u') {
                    if (i_ + 6 > n_ || hex(t_[i_ + 2]) < 0 || hex(t_[i_ + 3]) < 0 ||
                        hex(t_[i_ + 4]) < 0 || hex(t_[i_ + 5]) < 0)
                        return fail("bad \\u escape");
                    i_ += 6;
                    continue;
                }
                if (e != '"' && e != '\\' && e != '/' && e != 'b' && e != 'f' && e != 'n' &&
                    e != 'r' && e != 't')
                    return fail("bad escape");
                i_ += 2;
                continue;
            }
            ++i_;
        }
        off = uint32_t(b);
        len = uint32_t(i_ - b);
        ++i_;
        return true;
    }

    bool value(uint32_t key, uint32_t key_len) {
        if (v_.size() >= 0xfffffff0u) return fail("too many values");
        if (i_ >= n_) return fail("expected a value");
        Value v{};
        v.key = key;
        v.key_len = key_len;
        const char c = t_[i_];
        if (c == '{' || c == '[') {
            if (stack_.size() >= max_depth_)
                return fail(("nested deeper than " + std::to_string(max_depth_)).c_str());
            v.kind = c == '{' ? Kind::Object : Kind::Array;
            ++i_;
            stack_.push_back(uint32_t(v_.size()));
            v_.push_back(v);
            open_ = true;
            return true;
        }
        if (c == '"') {
            v.kind = Kind::String;
            if (!string(v.str, v.str_len)) return false;
        } else if (c == '-' || digit(c)) {
            v.kind = Kind::Number;
            if (!number(v.number)) return false;
        } else if (literal("true")) {
            v.kind = Kind::True;
        } else if (literal("false")) {
            v.kind = Kind::False;
        } else if (literal("null")) {
            v.kind = Kind::Null;
        } else {
            return fail("expected a value");
        }
        v.end = uint32_t(v_.size() + 1);
        v_.push_back(v);
        return true;
    }

    bool literal(std::string_view word) {
        if (std::string_view(t_ + i_, std::min(n_ - i_, word.size())) != word) return false;
        i_ += word.size();
        return true;
    }

    bool number(double& out) {
        const size_t b = i_;
        if (at('-')) ++i_;
        if (at('0')) {
            ++i_;
        } else {
            if (i_ >= n_ || !digit(t_[i_])) return fail("malformed number");
            while (i_ < n_ && digit(t_[i_]))
                ++i_;
        }
        if (at('.')) {
            ++i_;
            if (i_ >= n_ || !digit(t_[i_])) return fail("malformed number");
            while (i_ < n_ && digit(t_[i_]))
                ++i_;
        }
        if (at('e') || at('E')) {
            ++i_;
            if (at('+') || at('-')) ++i_;
            if (i_ >= n_ || !digit(t_[i_])) return fail("malformed number");
            while (i_ < n_ && digit(t_[i_]))
                ++i_;
        }
        auto r = std::from_chars(t_ + b, t_ + i_, out);
        if (r.ec == std::errc::result_out_of_range)
            out = t_[b] == '-' ? -HUGE_VAL : HUGE_VAL; // tiny ones come back as 0 anyway
        else if (r.ec != std::errc() || r.ptr != t_ + i_)
            return fail("malformed number");
        return true;
    }

    const char* t_;
    size_t n_;
    size_t i_ = 0;
    size_t max_depth_;
    bool open_ = false;
    std::vector<Value>& v_;
    std::vector<uint32_t> stack_;
    std::string& error_;
};

void put_utf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

} // namespace

bool Document::parse(const char* text, size_t size, int max_depth, std::string& error) {
    values_.clear();
    text_ = text;
    if (size >= 0xfffffff0u) {
        error = "glTF JSON larger than 4 GiB";
        return false;
    }
    Parser p(text, size, max_depth, values_, error);
    return p.run();
}

uint32_t Document::member(uint32_t object, std::string_view key) const {
    if (kind(object) != Kind::Object) return kNone;
    uint32_t found = kNone;
    for (uint32_t c = first(object); c != kNone; c = next(object, c))
        if (this->key(c) == key) found = c;
    return found;
}

std::vector<uint32_t> Document::items(uint32_t array) const {
    std::vector<uint32_t> out;
    if (kind(array) != Kind::Array) return out;
    for (uint32_t c = first(array); c != kNone; c = next(array, c))
        out.push_back(c);
    return out;
}

bool Document::string(uint32_t i, std::string& out) const {
    out.clear();
    if (kind(i) != Kind::String) return false;
    const char* s = text_ + values_[i].str;
    const size_t n = values_[i].str_len;
    out.reserve(n);
    for (size_t k = 0; k < n; ++k) {
        if (s[k] != '\\') { // a run without escapes goes in at once
            const void* esc = std::memchr(s + k, '\\', n - k);
            const size_t run = esc ? size_t(static_cast<const char*>(esc) - (s + k)) : n - k;
            out.append(s + k, run);
            k += run - 1;
            continue;
        }
        const char e = s[++k]; // the parser saw every escape complete
        if (e != 'u') {
            static const char from[] = "\"\\/bfnrt", to[] = "\"\\/\b\f\n\r\t";
            out += to[std::string_view(from).find(e)];
            continue;
        }
        uint32_t c = 0;
        for (int h = 1; h <= 4; ++h)
            c = c * 16 + uint32_t(hex(s[k + size_t(h)]));
        k += 4;
        if (c >= 0xD800 && c < 0xDC00 && k + 6 < n && s[k + 1] == '\\' && s[k + 2] == 'u') {
            uint32_t lo = 0;
            for (int h = 3; h <= 6; ++h)
                lo = lo * 16 + uint32_t(hex(s[k + size_t(h)]));
            if (lo >= 0xDC00 && lo < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                k += 6;
            }
        }
        put_utf8(out, c);
    }
    return true;
}

bool Document::index(uint32_t i, uint64_t& out) const {
    if (kind(i) != Kind::Number) return false;
    const double d = values_[i].number;
    if (!(d >= 0 && d < 9007199254740992.0) || d != std::floor(d)) return false;
    out = uint64_t(d);
    return true;
}

} // namespace models::detail::json
