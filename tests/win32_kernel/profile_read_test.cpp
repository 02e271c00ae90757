// Reading the settings file the way both programs do.
#include "kernel_test_support.h"
#include "settings_keys.h"

#include <filesystem>
#include <functional>
#include <ostream>
#include <sys/stat.h>

namespace {

// What the saver takes from the file at the start of a run.
struct SaverSettings {
    int speed, shade, red, green, blue;
    std::string model;
    bool operator==(const SaverSettings&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const SaverSettings& s) {
        return out << s.speed << ' ' << s.shade << ' ' << s.red << ' ' << s.green << ' ' << s.blue
                   << ' ' << s.model;
    }
};

SaverSettings ReadAsSaver() {
    auto get = [](const char* section, const char* key, int def) {
        return int(GetPrivateProfileIntA(section, key, def, SETTINGS_FILE));
    };
    char path[FILENAME_BUFFER_SIZE];
    GetPrivateProfileStringA(SECTION_SETTING, KEY_FILENAME, DEFAULT_FILENAME, path, sizeof path,
                             SETTINGS_FILE);
    return {ClampSpeed(get(SECTION_SS, KEY_SPEED, SAVER_DEFAULT_SPEED)),
            ClampShade(get(SECTION_SS, KEY_SHADE, DEFAULT_SHADE)),
            ClampColor(get(SECTION_SETTING, KEY_COLOR_R, DEFAULT_COLOR)),
            ClampColor(get(SECTION_SETTING, KEY_COLOR_G, DEFAULT_COLOR)),
            ClampColor(get(SECTION_SETTING, KEY_COLOR_B, DEFAULT_COLOR)),
            path};
}

class ProfileReadTest : public KernelTest {
  protected:
    void Settings(const std::string& bytes) {
        mkdir((configHome + "/plumora").c_str(), 0700);
        WriteBytes(SettingsPath(), bytes);
    }
    std::string Str(const char* section, const char* key) {
        char buffer[512];
        GetPrivateProfileStringA(section, key, "<default>", buffer, sizeof buffer, SETTINGS_FILE);
        return buffer;
    }
};

TEST_F(ProfileReadTest, SaverGetsDefaultsClampedValuesAndLongNamesWhole) {
    const std::string model = "C:\\XFile\\parasol.x";
    EXPECT_EQ(ReadAsSaver(), (SaverSettings{5, 0, 255, 255, 255, model}));
    EXPECT_FALSE(Exists(configHome + "/plumora")) << "reading must not create anything";

    // Mends the cut at 255 characters: the whole name is read.
    const std::string longPath = "/models/" + std::string(400, 'p') + "/ship.x";
    const struct {
        std::string file;
        SaverSettings expected;
    } cases[] = {{"[SETTING]\nColorR=10\n[Other]\nSPEED=9\n", {5, 0, 10, 255, 255, model}},
                 {"[SS_SECTION]\nSPEED=0\nSHADE=2\n", {1, 0, 255, 255, 255, model}},
                 {"[SS_SECTION]\nSPEED=-3\nSHADE=-1\n", {1, 0, 255, 255, 255, model}},
                 {"[SS_SECTION]\nSPEED=11\nSHADE=1\n", {10, 1, 255, 255, 255, model}},
                 {"[SS_SECTION]\nSPEED=99999999999999\n", {10, 0, 255, 255, 255, model}},
                 {"[SETTING]\nColorR=300\nColorG=-4\nColorB=0\n", {5, 0, 255, 0, 0, model}},
                 {"[SETTING]\nFILENAME=" + longPath + "\n", {5, 0, 255, 255, 255, longPath}}};
    for (const auto& c : cases) {
        Settings(c.file);
        EXPECT_EQ(ReadAsSaver(), c.expected) << c.file;
    }
}

TEST_F(ProfileReadTest, IntegersParseLikeThePlatform) {
    const struct {
        const char* value;
        int expected;
    } cases[] = {{" 12abc", 12},
                 {"+7", 7},
                 {"-", 0},
                 {"0x10", 0},
                 {"abc", 0},
                 {"-12", -12},
                 {"007", 7},
                 {"1 2", 1},
                 {"\"42\"", 42},
                 {"  -5  ", -5},
                 {"", -99},
                 {"   ", -99},
                 {"-2147483648", -2147483647 - 1}};
    for (const auto& c : cases) {
        Settings(std::string("[S]\nk=") + c.value + "\n");
        EXPECT_EQ(int(GetPrivateProfileIntA("S", "k", -99, SETTINGS_FILE)), c.expected)
            << "value \"" << c.value << "\"";
    }
}

TEST_F(ProfileReadTest, CrlfCaseCommentsDuplicatesQuotesAndStrayLines) {
    Settings("\xEF\xBB\xBF; comment\r\nearly=0\r\n[setting]\r\ncolorr=12\r\nFileName=C:\\m\\a.x\r\n"
             "[S]\r\n  a  =  spaced value \t\r\nb=\"quoted \"\r\nc=\"half\r\nd=\"\"\r\ne=\r\n"
             "k=1\r\nK=2\r\n;j=1\r\njunk line\r\n=7\r\n  [ S2 ]  \r\nk=2\r\n[s]\r\nonly=4\r\n"
             "[broken\r\nk=3\r\n");
    const struct {
        const char *section, *key, *expected;
    } lookups[] = {{SECTION_SETTING, KEY_COLOR_R, "12"},
                   {SECTION_SETTING, KEY_FILENAME, "C:\\m\\a.x"}, // no stray carriage return
                   {SECTION_SETTING, "early", "<default>"}, // keys before any section are nobody's
                   {"S", "a", "spaced value"},
                   {"S", "b", "quoted "},
                   {"S", "c", "\"half"},
                   {"S", "d", ""},
                   {"S", "e", ""}, // present but empty is not absent
                   {"S", "f", "<default>"},
                   {"S", "k", "1"}, // the first of duplicates wins
                   {"S", "j", "<default>"},
                   {"S", "only", "<default>"}, // a repeated section is not consulted
                   {"S2", "k", "2"},
                   {"S2", "", "<default>"}};
    for (const auto& l : lookups)
        EXPECT_EQ(Str(l.section, l.key), l.expected) << l.section << "/" << l.key;
}

TEST_F(ProfileReadTest, CopiesAreBoundedByTheBuffer) {
    Settings("[A]\nx=abcdefgh\n");
    char buffer[64] = "xxxxxxx";
    EXPECT_EQ(GetPrivateProfileStringA("A", "f", nullptr, buffer, 8, SETTINGS_FILE), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(GetPrivateProfileStringA("A", "x", "", buffer, 5, SETTINGS_FILE), 4u);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(GetPrivateProfileStringA("A", "x", "", buffer, 1, SETTINGS_FILE), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(GetPrivateProfileStringA("A", "x", "", buffer, 0, SETTINGS_FILE), 0u);
    EXPECT_EQ(GetPrivateProfileStringA("A", "none", "defaultlong", buffer, 5, SETTINGS_FILE), 4u);
    EXPECT_STREQ(buffer, "defa");
}

TEST_F(ProfileReadTest, PathsOtherThanBareNames) {
    std::string own = root + "/own.ini";
    WriteBytes(own, "[S]\nk=4\n");
    EXPECT_EQ(GetPrivateProfileIntA("S", "k", 0, own.c_str()), 4u);
    mkdir((root + "/windows").c_str(), 0755);
    WriteBytes(root + "/Conf.INI", "[S]\nk=6\n");
    Win32TestSetProgramDir((root + "/windows").c_str());
    EXPECT_EQ(GetPrivateProfileIntA("S", "k", 0, "C:\\conf.ini"), 6u);
}

TEST_F(ProfileReadTest, UnreadableOrHugeFilesGiveDefaultsAndAreNeverRewritten) {
    const std::string huge = "[SS_SECTION]\nSPEED=9\n" + std::string(2 << 20, ';') + "\n";
    const std::function<void()> makeBad[] = {
        [&] { mkdir(SettingsPath().c_str(), 0700); },  // a folder where the file should be
        [&] { mkfifo(SettingsPath().c_str(), 0600); }, // must not block the reader
        [&] { Settings(huge); }};
    for (const auto& make : makeBad) {
        std::filesystem::remove_all(SettingsPath());
        mkdir((configHome + "/plumora").c_str(), 0700);
        make();
        testing::internal::CaptureStderr();
        EXPECT_EQ(ReadAsSaver().speed, 5);
        EXPECT_FALSE(WritePrivateProfileStringA(SECTION_SS, KEY_SPEED, "3", SETTINGS_FILE));
        EXPECT_NE(testing::internal::GetCapturedStderr().find("Mirel.ini"), std::string::npos);
    }
    EXPECT_EQ(ReadBytes(SettingsPath()), huge);

    static const char junk[] = "[SS_SECTION]\nSPEED=8\n\0\xff\xfe[\n=\n";
    Settings(std::string(junk, sizeof junk - 1));
    EXPECT_EQ(ReadAsSaver().speed, 8) << "binary junk around the keys does no harm";
}

} // namespace
