// A JSON document as one flat array of values in document order: a container's members follow
// it, and each value knows where its subtree ends, so walking needs no recursion and no
// allocation per value. Strings stay in the text, undecoded until asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace models::detail::json {

enum class Kind : uint8_t { Null, False, True, Number, String, Array, Object };

struct Value {
    uint32_t end; // index past the last value inside this one
    uint32_t key; // member name (offset in the text, undecoded), when in an object
    uint32_t key_len;
    Kind kind;
    uint32_t str; // String: contents (offset, length), undecoded
    uint32_t str_len;
    double number;
};

constexpr uint32_t kNone = 0xffffffffu;

class Document {
  public:
    // Objects and arrays nested deeper than max_depth fail, as does anything not JSON.
    bool parse(const char* text, size_t size, int max_depth, std::string& error);

    const Value& operator[](uint32_t i) const { return values_[i]; }
    Kind kind(uint32_t i) const { return i == kNone ? Kind::Null : values_[i].kind; }
    bool is(uint32_t i, Kind k) const { return kind(i) == k; }

    // The member named `key` of an object (the last one when named twice), or kNone.
    uint32_t member(uint32_t object, std::string_view key) const;
    // Children of an array or object: first, then next until kNone.
    uint32_t first(uint32_t parent) const {
        return parent != kNone && values_[parent].end > parent + 1 ? parent + 1 : kNone;
    }
    uint32_t next(uint32_t parent, uint32_t child) const {
        return values_[child].end < values_[parent].end ? values_[child].end : kNone;
    }
    // The children of an array, or nothing when it isn't one.
    std::vector<uint32_t> items(uint32_t array) const;

    std::string_view key(uint32_t i) const { return {text_ + values_[i].key, values_[i].key_len}; }
    // A string's decoded contents (UTF-8); false when it isn't a string.
    bool string(uint32_t i, std::string& out) const;
    // A whole number in [0, 2^53), as glTF's indices, counts and offsets are.
    bool index(uint32_t i, uint64_t& out) const;

  private:
    const char* text_ = nullptr;
    std::vector<Value> values_;
};

} // namespace models::detail::json
