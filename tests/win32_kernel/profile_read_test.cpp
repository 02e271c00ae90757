// Reading the settings file the way both programs do.
#include "kernel_test_support.h"
#include "settings_keys.h"

#include <sys/stat.h>

namespace {

// What the saver takes from the file at the start of a run.
struct SaverSettings {
    int speed, shade, red, green, blue;
    std::string model;
};

SaverSettings ReadAsSaver() {
    SaverSettings s;
    s.speed = ClampSpeed(
        int(GetPrivateProfileIntA(SECTION_SS, KEY_SPEED, SAVER_DEFAULT_SPEED, SETTINGS_FILE)));
    s.shade =
        ClampShade(int(GetPrivateProfileIntA(SECTION_SS, KEY_SHADE, DEFAULT_SHADE, SETTINGS_FILE)));
    s.red = ClampColor(
        int(GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_R, DEFAULT_COLOR, SETTINGS_FILE)));
    s.green = ClampColor(
        int(GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_G, DEFAULT_COLOR, SETTINGS_FILE)));
    s.blue = ClampColor(
        int(GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_B, DEFAULT_COLOR, SETTINGS_FILE)));
    char path[FILENAME_BUFFER_SIZE];
    GetPrivateProfileStringA(SECTION_SETTING, KEY_FILENAME, DEFAULT_FILENAME, path, sizeof path,
                             SETTINGS_FILE);
    s.model = path;
    return s;
}

class ProfileReadTest : public KernelTest {
  protected:
    void Settings(const std::string& bytes) {
        mkdir((configHome + "/plumora").c_str(), 0700);
        WriteBytes(SettingsPath(), bytes);
    }
    int Int(const char* section, const char* key, int def = -99) {
        return int(GetPrivateProfileIntA(section, key, def, SETTINGS_FILE));
    }
    std::string Str(const char* section, const char* key, const char* def = "<default>") {
        char buffer[512];
        GetPrivateProfileStringA(section, key, def, buffer, sizeof buffer, SETTINGS_FILE);
        return buffer;
    }
};

TEST_F(ProfileReadTest, MissingFileGivesTheSaverDefaults) {
    SaverSettings s = ReadAsSaver();
    EXPECT_EQ(s.speed, 5);
    EXPECT_EQ(s.shade, 0);
    EXPECT_EQ(s.red, 255);
    EXPECT_EQ(s.green, 255);
    EXPECT_EQ(s.blue, 255);
    EXPECT_EQ(s.model, "C:\\XFile\\parasol.x");
    EXPECT_FALSE(Exists(configHome + "/plumora")) << "reading must not create anything";
}

TEST_F(ProfileReadTest, MissingKeysAndSectionsGiveDefaults) {
    Settings("[SETTING]\nColorR=10\n[Other]\nSPEED=9\n");
    SaverSettings s = ReadAsSaver();
    EXPECT_EQ(s.red, 10);
    EXPECT_EQ(s.green, 255);
    EXPECT_EQ(s.speed, 5) << "SPEED in another section is not ours";
    EXPECT_EQ(Int(SECTION_SS, KEY_SPEED, SETTINGS_DEFAULT_SPEED), 7);
}

TEST_F(ProfileReadTest, SaverClampsOutOfRangeValues) {
    struct Case {
        const char* file;
        int speed, shade, red, green;
    } cases[] = {
        {"[SS_SECTION]\nSPEED=0\nSHADE=2\n", 1, 0, 255, 255},
        {"[SS_SECTION]\nSPEED=-3\nSHADE=-1\n", 1, 0, 255, 255},
        {"[SS_SECTION]\nSPEED=11\nSHADE=1\n", 10, 1, 255, 255},
        {"[SS_SECTION]\nSPEED=99999999999999\n", 10, 0, 255, 255},
        {"[SETTING]\nColorR=300\nColorG=-4\n", 5, 0, 255, 0},
        {"[SETTING]\nColorR=0\nColorG=255\n[SS_SECTION]\nSPEED=10\n", 10, 0, 0, 255},
    };
    for (const Case& c : cases) {
        Settings(c.file);
        SaverSettings s = ReadAsSaver();
        EXPECT_EQ(s.speed, c.speed) << c.file;
        EXPECT_EQ(s.shade, c.shade) << c.file;
        EXPECT_EQ(s.red, c.red) << c.file;
        EXPECT_EQ(s.green, c.green) << c.file;
    }
}

TEST_F(ProfileReadTest, IntegersParseLikeThePlatform) {
    struct Case {
        const char* value;
        int expected;
    } cases[] = {
        {" 12abc", 12},
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
        {"-2147483648", -2147483647 - 1},
    };
    for (const Case& c : cases) {
        Settings(std::string("[S]\nk=") + c.value + "\n");
        EXPECT_EQ(Int("S", "k"), c.expected) << "value \"" << c.value << "\"";
    }
}

TEST_F(ProfileReadTest, StringsAreTrimmedAndUnquoted) {
    Settings("[S]\n  a  =  spaced value \t\nb=\"quoted \"\nc=\"half\nd=\"\"\ne=\n");
    EXPECT_EQ(Str("S", "a"), "spaced value");
    EXPECT_EQ(Str("S", "b"), "quoted ");
    EXPECT_EQ(Str("S", "c"), "\"half");
    EXPECT_EQ(Str("S", "d"), "");
    EXPECT_EQ(Str("S", "e"), "") << "present but empty is not absent";
    EXPECT_EQ(Str("S", "f"), "<default>");
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(GetPrivateProfileStringA("S", "f", nullptr, buffer, sizeof buffer, SETTINGS_FILE),
              0u);
    EXPECT_STREQ(buffer, "");
}

TEST_F(ProfileReadTest, CrlfFilesAndCaseInsensitiveNames) {
    Settings("\xEF\xBB\xBF[setting]\r\ncolorr=12\r\nFileName=C:\\m\\a.x\r\n[SS_Section]\r\n"
             "speed=3\r\n");
    EXPECT_EQ(Int(SECTION_SETTING, KEY_COLOR_R), 12);
    EXPECT_EQ(Str(SECTION_SETTING, KEY_FILENAME), "C:\\m\\a.x") << "no stray carriage return";
    EXPECT_EQ(Int(SECTION_SS, KEY_SPEED), 3);
    EXPECT_EQ(Int("SS_SECTION", "SPEED"), 3);
}

TEST_F(ProfileReadTest, FirstOfDuplicateKeysAndSectionsWins) {
    Settings("[S]\nk=1\nK=2\n[T]\nk=5\n[s]\nk=3\nonly=4\n");
    EXPECT_EQ(Int("S", "k"), 1);
    EXPECT_EQ(Int("T", "k"), 5);
    EXPECT_EQ(Int("S", "only"), -99) << "a repeated section is not consulted";
}

TEST_F(ProfileReadTest, CommentsStrayLinesAndKeylessLinesAreIgnored) {
    Settings("k=0\n; comment\n[S]\n;k=1\njunk line\n=7\n  [ S2 ]  \nk=2\n[broken\nk=3\n");
    EXPECT_EQ(Int("S", "k"), -99) << "a key before any section or in a comment is not read";
    EXPECT_EQ(Int("S2", "k"), 2) << "section names are trimmed";
    EXPECT_EQ(Int("S2", ""), -99);
}

TEST_F(ProfileReadTest, LongFilenameIsReadWholeMendingThe255CharacterCut) {
    std::string longPath = "/models/" + std::string(400, 'p') + "/ship.x";
    Settings("[SETTING]\nFILENAME=" + longPath + "\n");
    EXPECT_EQ(ReadAsSaver().model, longPath);
}

TEST_F(ProfileReadTest, StringCopyIsBoundedByTheBuffer) {
    Settings("[S]\nk=abcdefgh\n");
    char buffer[5];
    EXPECT_EQ(GetPrivateProfileStringA("S", "k", "", buffer, sizeof buffer, SETTINGS_FILE), 4u);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(GetPrivateProfileStringA("S", "k", "", buffer, 1, SETTINGS_FILE), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(GetPrivateProfileStringA("S", "k", "", buffer, 0, SETTINGS_FILE), 0u);
    EXPECT_EQ(
        GetPrivateProfileStringA("S", "none", "defaultlong", buffer, sizeof buffer, SETTINGS_FILE),
        4u);
    EXPECT_STREQ(buffer, "defa");
}

TEST_F(ProfileReadTest, NullNamesListSectionsAndKeys) {
    Settings("[A]\nx=1\ny=2\n[B]\n");
    char buffer[64];
    DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, SETTINGS_FILE);
    EXPECT_EQ(std::string(buffer, n), std::string("A\0B\0", 4));
    n = GetPrivateProfileStringA("a", nullptr, "", buffer, sizeof buffer, SETTINGS_FILE);
    EXPECT_EQ(std::string(buffer, n), std::string("x\0y\0", 4));
    EXPECT_EQ(buffer[n], '\0');
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

TEST_F(ProfileReadTest, UnreadableOrHugeFilesGiveDefaults) {
    mkdir((configHome + "/plumora").c_str(), 0700);
    std::string huge = "[SS_SECTION]\nSPEED=9\n" + std::string(2 << 20, ';') + "\n";
    WriteBytes(SettingsPath(), huge);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadAsSaver().speed, 5);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Mirel.ini"), std::string::npos);

    unlink(SettingsPath().c_str());
    mkdir(SettingsPath().c_str(), 0700); // a folder where the file should be
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadAsSaver().speed, 5);
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");

    rmdir(SettingsPath().c_str());
    mkfifo(SettingsPath().c_str(), 0600); // must not block the reader
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadAsSaver().speed, 5);
    EXPECT_FALSE(WritePrivateProfileStringA(SECTION_SS, KEY_SPEED, "3", SETTINGS_FILE));
    testing::internal::GetCapturedStderr();

    unlink(SettingsPath().c_str());
    static const char junk[] = "[SS_SECTION]\nSPEED=8\n\0\xff\xfe[\n=\n";
    WriteBytes(SettingsPath(), std::string(junk, sizeof junk - 1));
    EXPECT_EQ(ReadAsSaver().speed, 8) << "binary junk around the keys does no harm";
}

} // namespace
