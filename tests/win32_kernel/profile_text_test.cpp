// The settings text's rules, without the file: how values are found and read,
// and the exact bytes each kind of write leaves. That edits touch only their
// own line, read back and change nothing when repeated, however strange the
// file, is the fuzzer's to check.
#include "profile_text.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using win32k::ProfileInt;
using win32k::ProfileValue;

TEST(ProfileText, IntegersReadLikeThePlatform) {
    // An empty value reads as absent; beyond the range saturates, never wraps.
    const struct {
        const char* value;
        int expected;
    } cases[] = {{" 12 3", 12},
                 {"+7", 7},
                 {"-", 0},
                 {"0x10", 0},
                 {"\"42\"", 42},
                 {"  -5  ", -5},
                 {"", -99},
                 {"   ", -99},
                 {"-2147483648", INT_MIN},
                 {"99999999999999", INT_MAX},
                 {"-99999999999999", INT_MIN}};
    for (const auto& c : cases)
        EXPECT_EQ(ProfileInt(std::string("[S]\nk=") + c.value + "\n", "S", "k", -99), c.expected)
            << "value \"" << c.value << "\"";
    EXPECT_EQ(ProfileInt("[S]\nk=1\n", "S", "other", -99), -99);
}

TEST(ProfileText, LookupsIgnoreCaseCommentsAndStrayLines) {
    const std::string text =
        "\xEF\xBB\xBF; comment\r\nearly=0\r\n[setting]\r\ncolorr=12\r\nFileName=C:\\m\\a.x\r\n"
        "[S]\r\n  a  =  spaced value \t\r\nb=\"quoted \"\r\nc=\"half\r\nd=\"\"\r\ne=\r\n"
        "eq=a=b [c]\r\nk=1\r\nK=2\r\n;j=1\r\njunk line\r\n=7\r\n  [ S2 ]  \r\nk=2\r\n"
        "lone=x\ry\n[s]\r\nonly=4\r\n[broken\r\nk=3\r\n";
    const struct {
        const char *section, *key, *expected;
    } lookups[] = {{"SETTING", "ColorR", "12"},
                   {"SETTING", "FILENAME", "C:\\m\\a.x"}, // no stray carriage return
                   {"SETTING", "early", nullptr},         // keys before any section are nobody's
                   {"S", "a", "spaced value"},
                   {"S", "b", "quoted "},
                   {"S", "c", "\"half"},
                   {"S", "d", ""},
                   {"S", "e", ""}, // present but empty is not absent
                   {"S", "eq", "a=b [c]"},
                   {"S", "f", nullptr},
                   {"S", "k", "1"}, // the first of duplicates wins
                   {"S", "j", nullptr},
                   {"S", "only", nullptr}, // a repeated section is not consulted
                   {"S2", "k", "2"},
                   {"S2", "", nullptr},
                   {"S2", "lone", "x\ry"}}; // a lone CR is part of the line
    for (const auto& l : lookups)
        EXPECT_EQ(ProfileValue(text, l.section, l.key).value_or("<absent>"),
                  l.expected ? l.expected : "<absent>")
            << l.section << "/" << l.key;
}

// Each write changes only what it must; the rest of a hand-edited file,
// comments, blank lines, line ends and non-ASCII text included, stays as it was.
TEST(ProfileText, EditsKeepEveryOtherByte) {
    const struct {
        std::string before;
        const char *section, *key, *value;
        std::string after;
    } edits[] = {
        // The key's spelling and the blanks around '=' stay; the trailing blank
        // belongs to the old value and goes with it.
        {"; mine\r\n[SS]\r\n  Speed = 4\t\r\nX=\x83\x76\r\n", "ss", "SPEED", "9",
         "; mine\r\n[SS]\r\n  Speed = 9\r\nX=\x83\x76\r\n"},
        // A value with its own leading blanks replaces those there.
        {"[S]\nFILENAME = old\n", "S", "FILENAME", " /a b.x ", "[S]\nFILENAME = /a b.x \n"},
        {"[S]\nF=a\n", "S", "F", "/m/a=b [c] \xe6\x97\xa5.x", "[S]\nF=/m/a=b [c] \xe6\x97\xa5.x\n"},
        // A new key after the section's last line that isn't blank.
        {"[A]\r\nk=1\r\n\r\n[B]\r\n", "A", "New", "1", "[A]\r\nk=1\r\nNew=1\r\n\r\n[B]\r\n"},
        {"[A]\r\n; k\r\nk=1", "A", "n", "2", "[A]\r\n; k\r\nk=1\r\nn=2"},
        {"\xEF\xBB\xBF[A]\r\n", "A", "k", "1", "\xEF\xBB\xBF[A]\r\nk=1\r\n"},
        // A new section at the end, in the file's line ends.
        {"[A]\r\nk=1\r\n", "B", "a", "b", "[A]\r\nk=1\r\n[B]\r\na=b\r\n"},
        {"[A]\nk=1", "B", "a", "b", "[A]\nk=1\n[B]\na=b\n"},
        {"", "S", "k", "v", "[S]\nk=v\n"},
        // No value deletes the key with its duplicates; no key the section
        // with everything up to the next one.
        {"[O]\r\nColorR=1\r\ncolorr=2\r\nn=3\r\n", "o", "COLORR", nullptr, "[O]\r\nn=3\r\n"},
        {"[A]\nk=1\n[F]\na=b\n\n[C]\n", "f", nullptr, nullptr, "[A]\nk=1\n[C]\n"},
        // Nothing to do: false, and the text as it was.
        {"[A]\nk=1\n", "X", "k", nullptr, "[A]\nk=1\n"},
        {"[A]\nk=1\n", "A", "x", nullptr, "[A]\nk=1\n"},
        {"[A]\nk=1\n", "X", nullptr, nullptr, "[A]\nk=1\n"},
        {"[A]\nk = 1\n", "A", "k", "1", "[A]\nk = 1\n"}};
    for (const auto& e : edits) {
        std::string text = e.before;
        EXPECT_EQ(win32k::EditProfileText(text, e.section, e.key, e.value), e.before != e.after)
            << e.before;
        EXPECT_EQ(text, e.after) << e.before;
    }
}

TEST(ProfileText, NamesAndValuesThatWouldStartLinesAreRefused) {
    const struct {
        const char *section, *key, *value;
        bool refused;
    } cases[] = {{"SETTING", "FILENAME", "b.x\rSPEED=10", true}, // "\n": in ProfileFileTest
                 {"SETTING", "SPEED=10\nX", "1", true},
                 {"SETTING", "a=b", "1", true},
                 {"SETTING", "[x]", "1", true},
                 {"SETTING", ";hidden", "1", true},
                 {"SETTING", " ", "1", true},
                 {"SETTING]\n[SS_SECTION", "k", "1", true},
                 {"SETTING", "FILENAME", " \"/m/a=b [c];x\" ", false},
                 {"SETTING", "k", nullptr, false},
                 {"SETTING", nullptr, nullptr, false}};
    for (const auto& c : cases)
        EXPECT_EQ(win32k::BreaksProfileLines(c.section, c.key, c.value), c.refused)
            << c.section << "/" << (c.key ? c.key : "-") << "=" << (c.value ? c.value : "-");
}

} // namespace
