// Parsing and editing of the settings text. Lines end in "\n" or "\r\n"; a
// lone "\r" is part of a line. Names are trimmed and match without case.
#include "profile_text.h"

#include "kernel_util.h"

#include <climits>
#include <cstring>

namespace win32k {
namespace {

// ---- Parsing ----------------------------------------------------------------

enum class LineKind { Other, Section, Key };

struct Line {
    size_t begin = 0; // first byte of the line's text
    size_t end = 0;   // one past its text, before the line end
    size_t next = 0;  // start of the following line (after "\n" or "\r\n")
    LineKind kind = LineKind::Other;
    std::string_view name; // section or key name, trimmed
    size_t valueBegin = 0; // key lines: the value after '=' and its leading blanks
};

struct Parsed {
    std::vector<Line> lines;
    const char* lineEnd = "\n"; // style of the file's first line end
};

Parsed Parse(std::string_view text) {
    Parsed parsed;
    bool styleKnown = false;
    size_t pos = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3; // UTF-8 byte-order mark
    while (pos < text.size()) {
        Line line;
        line.begin = pos;
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            line.end = line.next = text.size();
        } else {
            line.next = nl + 1;
            line.end = (nl > pos && text[nl - 1] == '\r') ? nl - 1 : nl;
            if (!styleKnown) {
                parsed.lineEnd = line.end < nl ? "\r\n" : "\n";
                styleKnown = true;
            }
        }
        std::string_view body = text.substr(line.begin, line.end - line.begin);
        std::string_view trimmed = TrimBlanks(body);
        if (!trimmed.empty() && trimmed[0] == '[') {
            size_t close = trimmed.rfind(']');
            if (close != std::string_view::npos) {
                line.kind = LineKind::Section;
                line.name = TrimBlanks(trimmed.substr(1, close - 1));
            }
        } else if (!trimmed.empty() && trimmed[0] != ';') {
            size_t eq = body.find('=');
            if (eq != std::string_view::npos) {
                std::string_view key = TrimBlanks(body.substr(0, eq));
                if (!key.empty()) {
                    line.kind = LineKind::Key;
                    line.name = key;
                    size_t v = line.begin + eq + 1;
                    while (v < line.end && IsBlank(text[v]))
                        ++v;
                    line.valueBegin = v;
                }
            }
        }
        parsed.lines.push_back(line);
        pos = line.next;
    }
    return parsed;
}

// Lines [first, last) of the first section with this name; nullopt when absent.
// Duplicate sections after the first are not consulted, as on the platform.
struct Range {
    size_t header, first, last;
};
std::optional<Range> FindSection(const Parsed& parsed, std::string_view section) {
    const auto& lines = parsed.lines;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != LineKind::Section || !EqualNoCase(lines[i].name, section)) continue;
        size_t j = i + 1;
        while (j < lines.size() && lines[j].kind != LineKind::Section)
            ++j;
        return Range{i, i + 1, j};
    }
    return std::nullopt;
}

std::optional<size_t> FindKey(const Parsed& parsed, const Range& range, std::string_view key) {
    for (size_t i = range.first; i < range.last; ++i)
        if (parsed.lines[i].kind == LineKind::Key && EqualNoCase(parsed.lines[i].name, key))
            return i;
    return std::nullopt;
}

// The value as read: trimmed, and without a pair of enclosing double quotes.
std::string_view ValueOf(std::string_view text, const Line& line) {
    std::string_view value = TrimBlanks(text.substr(line.valueBegin, line.end - line.valueBegin));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return value;
}

// ---- Values -----------------------------------------------------------------

// The platform's integer reading: leading blanks, an optional sign, then decimal
// digits up to the first other character; no digits reads as 0. Values beyond
// the int range saturate rather than wrap, so a huge speed clamps as "too fast".
int ParseProfileInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 1LL + INT_MAX) value = 1LL + INT_MAX;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return int(value);
}

bool HasAny(const char* text, const char* forbidden) {
    return strpbrk(text, forbidden) != nullptr;
}

} // namespace

std::optional<std::string_view> ProfileValue(std::string_view text, std::string_view section,
                                             std::string_view key) {
    Parsed parsed = Parse(text);
    auto range = FindSection(parsed, section);
    if (!range) return std::nullopt;
    auto index = FindKey(parsed, *range, key);
    if (!index) return std::nullopt;
    return ValueOf(text, parsed.lines[*index]);
}

int ProfileInt(std::string_view text, std::string_view section, std::string_view key,
               int defaultValue) {
    auto value = ProfileValue(text, section, key);
    // An empty value counts as absent, as on the platform.
    if (!value || value->empty()) return defaultValue;
    return ParseProfileInt(*value);
}

std::vector<std::string_view> ProfileSectionNames(std::string_view text) {
    std::vector<std::string_view> names;
    for (const Line& line : Parse(text).lines)
        if (line.kind == LineKind::Section) names.push_back(line.name);
    return names;
}

std::vector<std::string_view> ProfileKeyNames(std::string_view text, std::string_view section) {
    std::vector<std::string_view> names;
    Parsed parsed = Parse(text);
    if (auto range = FindSection(parsed, section))
        for (size_t i = range->first; i < range->last; ++i)
            if (parsed.lines[i].kind == LineKind::Key) names.push_back(parsed.lines[i].name);
    return names;
}

bool BreaksProfileLines(const char* section, const char* key, const char* value) {
    return HasAny(section, "\r\n[]") ||
           (key && (HasAny(key, "\r\n[]=") || key[0] == ';' || TrimBlanks(key).empty())) ||
           (value && HasAny(value, "\r\n"));
}

bool EditProfileText(std::string& text, const char* section, const char* key, const char* value) {
    Parsed parsed = Parse(text);
    const std::string eol = parsed.lineEnd;
    auto range = FindSection(parsed, section);
    const auto& lines = parsed.lines;

    if (!key) { // delete the section with its keys and the lines between them
        if (!range) return false;
        size_t from = lines[range->header].begin;
        size_t to = range->last < lines.size() ? lines[range->last].begin : text.size();
        text.erase(from, to - from);
        return true;
    }

    if (!value) { // delete the key, duplicates included, so it then reads as absent
        if (!range) return false;
        bool changed = false;
        for (size_t i = range->last; i-- > range->first;) {
            if (lines[i].kind == LineKind::Key && EqualNoCase(lines[i].name, key)) {
                text.erase(lines[i].begin, lines[i].next - lines[i].begin);
                changed = true;
            }
        }
        return changed;
    }

    if (!range) { // a new section at the end
        std::string add;
        if (!text.empty() && text.back() != '\n') add += eol;
        add.append("[").append(section).append("]").append(eol);
        add.append(key).append("=").append(value).append(eol);
        text += add;
        return true;
    }

    if (auto index = FindKey(parsed, *range, key)) {
        // Replace only the value; the key's spelling and the blanks around '='
        // stay as the user wrote them.
        // A value that brings its own leading blanks replaces the ones there, or
        // every write of it would add more.
        const Line& line = lines[*index];
        size_t from = line.valueBegin;
        if (IsBlank(value[0]))
            while (from > line.begin && text[from - 1] != '=')
                --from;
        std::string_view old(text.data() + from, line.end - from);
        if (old == value) return false;
        text.replace(from, line.end - from, value);
        return true;
    }

    // A new key after the section's last non-blank line, so blank lines that
    // separate it from the next section stay where they are.
    size_t after = range->header;
    for (size_t i = range->first; i < range->last; ++i)
        if (!TrimBlanks(
                 std::string_view(text).substr(lines[i].begin, lines[i].end - lines[i].begin))
                 .empty())
            after = i;
    const Line& anchor = lines[after];
    std::string add = std::string(key) + "=" + value;
    if (anchor.next == anchor.end) // last line of a file without a final line end
        text.insert(anchor.end, eol + add);
    else
        text.insert(anchor.next, add + eol);
    return true;
}

} // namespace win32k
