// The settings text and its rules, without any I/O: text in, a value or an
// edited text out. profile.cpp puts the file around it (locking, atomic
// replacement, size and type checks) for the Win32 profile functions.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace win32k {

// A settings file is a few hundred bytes; anything this large is not one, and
// reading it whole on every call would be unbounded work.
inline constexpr std::size_t kMaxProfileSize = 1 << 20;

// The value of key in the first section named section (names match without
// regard to ASCII case), trimmed and without a pair of enclosing double quotes;
// nullopt when the section or key is absent.
std::optional<std::string_view> ProfileValue(std::string_view text, std::string_view section,
                                             std::string_view key);

// The value read as an integer the platform's way; defaultValue when the key is
// absent or its value empty.
int ProfileInt(std::string_view text, std::string_view section, std::string_view key,
               int defaultValue);

// Every section name in order, or the key names of the first section named section.
std::vector<std::string_view> ProfileSectionNames(std::string_view text);
std::vector<std::string_view> ProfileKeyNames(std::string_view text, std::string_view section);

// Whether writing these names and value could start lines of their own (and so
// plant keys or sections in the file). key and value may be null.
bool BreaksProfileLines(const char* section, const char* key, const char* value);

// Applies one write: key null deletes the section with its keys, value null
// deletes the key, anything else sets it. Every byte that the change does not
// concern stays. False when the text is already as asked.
bool EditProfileText(std::string& text, const char* section, const char* key, const char* value);

} // namespace win32k
