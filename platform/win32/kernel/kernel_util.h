// Helpers shared by the kernel stand-in's sources; not part of the Win32 surface.
#pragma once

#include <string>
#include <string_view>

namespace win32k {

// One line on standard error, written with a single write(2) so lines from
// several processes do not interleave. The text gets a "plumora: " prefix.
void Warn(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ASCII-only case folding: names in the files are ASCII, and folding bytes of
// multi-byte encodings would merge unrelated characters.
inline char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}
bool EqualNoCase(std::string_view a, std::string_view b);

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}
std::string_view TrimBlanks(std::string_view s);

// $XDG_CONFIG_HOME/plumora, or ~/.config/plumora; relative XDG values are ignored
// as the XDG rules require.
std::string ConfigDir();

// Creates every missing folder of path with the given mode. True when it exists.
bool MakeDirs(const std::string& path, unsigned mode);

} // namespace win32k
