// Fuzz target: any bytes as the settings file. Both programs' reads must survive
// it, and each write the settings program makes must change only the line of its
// own key (or add one): every other byte the user put in the file stays. The
// writes are checked on the text itself; the file function must then make
// exactly the same changes to the file.
#include "profile_text.h"
#include "settings_keys.h"
#include "windows.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

std::string g_folder; // $XDG_CONFIG_HOME of this process
std::string g_file;   // where "Mirel.ini" resolves to

[[noreturn]] void Broken(const char* what, const std::string& before, const std::string& after) {
    fprintf(stderr, "profile_fuzz: %s\n--- before (%zu bytes)\n%s\n--- after (%zu bytes)\n%s\n",
            what, before.size(), before.c_str(), after.size(), after.c_str());
    abort();
}

void WriteFile(const uint8_t* data, size_t size) {
    std::ofstream out(g_file, std::ios::binary | std::ios::trunc);
    if (!out.write(reinterpret_cast<const char*>(data), std::streamsize(size)).flush()) abort();
}

std::string ReadFile() {
    std::ifstream in(g_file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Values {
    UINT speed, shade, r, g, b;
    std::string filename;
    bool operator==(const Values&) const = default;
};

// What the saver reads, and the settings program with its own defaults.
Values ReadAll(int defaultSpeed) {
    Values v;
    v.speed = GetPrivateProfileIntA(SECTION_SS, KEY_SPEED, defaultSpeed, SETTINGS_FILE);
    v.shade = GetPrivateProfileIntA(SECTION_SS, KEY_SHADE, DEFAULT_SHADE, SETTINGS_FILE);
    v.r = GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_R, DEFAULT_COLOR, SETTINGS_FILE);
    v.g = GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_G, DEFAULT_COLOR, SETTINGS_FILE);
    v.b = GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_B, DEFAULT_COLOR, SETTINGS_FILE);
    char path[FILENAME_BUFFER_SIZE];
    memset(path, 0x55, sizeof path);
    DWORD n = GetPrivateProfileStringA(SECTION_SETTING, KEY_FILENAME, DEFAULT_FILENAME, path,
                                       sizeof path, SETTINGS_FILE);
    if (n >= sizeof path || path[n] != '\0') Broken("string read overran its count", "", "");
    v.filename.assign(path, n);
    return v;
}

// One write as the settings program makes it, checked against the text before.
void CheckedEdit(std::string& text, const char* section, const char* key,
                 const std::string& value) {
    const std::string before = text;
    win32k::EditProfileText(text, section, key, value.c_str());
    const std::string& after = text;
    // What changed: the bytes between the common prefix and the common suffix.
    const auto [bp, ap] = std::mismatch(before.begin(), before.end(), after.begin(), after.end());
    const auto [bs, as] = std::mismatch(before.rbegin(), std::make_reverse_iterator(bp),
                                        after.rbegin(), std::make_reverse_iterator(ap));
    const std::string_view removed(bp, bs.base()), added(ap, as.base());
    // Only part of one line may go (the old value: a lone CR is part of a line);
    // what comes in is made of the section, key, value and line ends.
    if (removed.find('\n') != std::string_view::npos)
        Broken("a write removed a line end", before, after);
    std::string alphabet = std::string(section) + key + value + "[]=\r\n";
    if (added.find_first_not_of(alphabet) != std::string_view::npos)
        Broken("a write added foreign bytes", before, after);

    if (win32k::ProfileValue(after, section, key) != value)
        Broken("the written value does not read back", before, after);
    // Writing the same value again changes nothing.
    std::string again = after;
    if (win32k::EditProfileText(again, section, key, value.c_str()) || again != after)
        Broken("rewriting the same value changed the file", after, again);
}

struct Write {
    const char* section;
    const char* key;
    std::string value;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/profile-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) abort();
    g_folder = pattern;
    setenv("XDG_CONFIG_HOME", g_folder.c_str(), 1);
    if (!std::filesystem::create_directory(g_folder + "/plumora")) abort();
    g_file = g_folder + "/plumora/Mirel.ini";
    atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(g_folder, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_folder.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    WriteFile(data, size);
    const Values saver = ReadAll(SAVER_DEFAULT_SPEED);
    const Values again = ReadAll(SAVER_DEFAULT_SPEED);
    if (!(saver == again)) Broken("two reads of one file differ", "", "");
    ReadAll(SETTINGS_DEFAULT_SPEED);

    // A slider movement writes the three colours and the speed; then the
    // shading style and the model file, each alone. Values come from the input
    // so the replacements vary in length.
    unsigned seed = size ? data[size - 1] : 0;
    const Write writes[6] = {{SECTION_SETTING, KEY_COLOR_R, std::to_string(seed)},
                             {SECTION_SETTING, KEY_COLOR_G, std::to_string(seed * 7 % 256)},
                             {SECTION_SETTING, KEY_COLOR_B, "0"},
                             {SECTION_SS, KEY_SPEED, std::to_string(seed % 11)},
                             {SECTION_SS, KEY_SHADE, seed & 1 ? "1" : "0"},
                             {SECTION_SETTING, KEY_FILENAME,
                              seed & 2 ? "/home/u/models/ship one.x" : "C:\\XFile\\parasol.x"}};
    std::string text(reinterpret_cast<const char*>(data), size);
    for (const Write& w : writes)
        CheckedEdit(text, w.section, w.key, w.value);
    // The same writes to the file. One may fail (an oversized file is refused,
    // and so is a write the file system fails) but must then change nothing.
    for (const Write& w : writes) {
        const std::string before = ReadFile();
        if (WritePrivateProfileStringA(w.section, w.key, w.value.c_str(), SETTINGS_FILE)) continue;
        if (ReadFile() != before) Broken("a failed write changed the file", before, ReadFile());
        return 0;
    }
    if (ReadFile() != text) Broken("the file writes differ from the text's", text, ReadFile());

    const Values after = ReadAll(SAVER_DEFAULT_SPEED);
    if (after.r != seed || after.speed != seed % 11)
        Broken("a later write lost an earlier one", "", ReadFile());
    return 0;
}
