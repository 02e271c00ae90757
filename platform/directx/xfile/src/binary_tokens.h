// Token ids of a binary body: each a little-endian uint16, followed by its data. Read by the
// binary lexer, written by our own writer.
#pragma once

#include <cstdint>

namespace xfile::detail {

enum class BinTok : uint16_t {
    Name = 1,        // uint32 length, then that many bytes
    String = 2,      // uint32 length, bytes, then a Comma or Semicolon token
    Integer = 3,     // uint32
    Guid = 5,        // 16 bytes
    IntegerList = 6, // uint32 count, then count uint32
    FloatList = 7,   // uint32 count, then count floats of the header's float size
    OBrace = 10,
    CBrace = 11,
    OParen = 12, // punctuation, nothing follows
    CParen = 13,
    OBracket = 14,
    CBracket = 15,
    OAngle = 16,
    CAngle = 17,
    Dot = 18,
    Comma = 19,
    Semicolon = 20,
    Template = 31,
    Word = 40, // template member types, nothing follows
    Dword = 41,
    Float = 42,
    Double = 43,
    Char = 44,
    UChar = 45,
    SWord = 46,
    SDword = 47,
    Void = 48,
    LpStr = 49,
    Unicode = 50,
    CString = 51,
    Array = 52,
};

} // namespace xfile::detail
