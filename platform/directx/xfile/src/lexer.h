// What the two token readers (text_lexer.h, binary_lexer.h) share. Both offer the same
// operations, so the object parser is one template over them:
//   next()              the next structural token (names, braces, strings, GUIDs, numbers)
//   read_uint/float(s)  the next number(s) of an object's data, separators skipped
//   read_string         a string member (TextureFilename)
//   skip_guid()         an optional GUID at the start of an object's data
//   numbers_bound()     an upper bound on the numbers left, to check declared counts against
#pragma once

#include "source.h"

#include <string>

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

} // namespace xfile::detail
