// Writing the settings file: every byte not changed stays as it was, and a
// failed write loses nothing.
#include "kernel_test_support.h"
#include "settings_keys.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

class ProfileWriteTest : public KernelTest {
  protected:
    std::string Folder() const { return configHome + "/plumora"; }
    void Settings(const std::string& bytes) {
        mkdir(Folder().c_str(), 0700);
        WriteBytes(SettingsPath(), bytes);
    }
    BOOL Write(const char* section, const char* key, const char* value) {
        return WritePrivateProfileStringA(section, key, value, SETTINGS_FILE);
    }
    // Nothing but the file and its lock file may stay behind in the folder.
    void ExpectNoTemporaryFiles(const std::string& folder) {
        for (const std::string& name : ListFolder(folder))
            EXPECT_TRUE(name == "Mirel.ini" || name == ".Mirel.ini.lock") << name;
    }
};

TEST_F(ProfileWriteTest, CreatesFolderFileSectionAndKey) {
    ASSERT_TRUE(Write(SECTION_SETTING, KEY_COLOR_R, "12"));
    ASSERT_TRUE(Write(SECTION_SS, KEY_SPEED, "7"));
    ASSERT_TRUE(Write(SECTION_SETTING, KEY_COLOR_G, "0"));
    EXPECT_EQ(ReadBytes(SettingsPath()), "[SETTING]\nColorR=12\nColorG=0\n[SS_SECTION]\nSPEED=7\n");
    struct stat st;
    ASSERT_EQ(stat(Folder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(GetPrivateProfileIntA(SECTION_SS, KEY_SPEED, 5, SETTINGS_FILE), 7u);
    ExpectNoTemporaryFiles(Folder());

    std::string deep = root + "/not/yet"; // missing parents of the folder too
    setenv("XDG_CONFIG_HOME", deep.c_str(), 1);
    ASSERT_TRUE(Write("S", "k", "v"));
    EXPECT_EQ(ReadBytes(deep + "/plumora/Mirel.ini"), "[S]\nk=v\n");
}

TEST_F(ProfileWriteTest, KeepsEveryOtherByteOfAHandEditedFile) {
    const std::string original = "; Plumora settings, edited by hand\r\n"
                                 "[SS_SECTION]\r\n"
                                 "  Speed = 4\t\r\n"
                                 "SHADE=1\r\n"
                                 "Extra=\x83\x76\x83\x8d\r\n" // Shift-JIS text
                                 "\r\n"
                                 "[Other]\r\n"
                                 "ColorR=1\r\n"
                                 "note=\xe6\x97\xa5\xe6\x9c\xac\r\n" // UTF-8 text
                                 "[SETTING]\r\n"
                                 "; model\r\n"
                                 "FILENAME=C:\\XFile\\parasol.x"; // no final line end
    Settings(original);
    ASSERT_TRUE(Write(SECTION_SS, KEY_SPEED, "9"));
    std::string expected = original;
    // The trailing blank belongs to the old value and goes with it.
    const size_t at = expected.find("4\t");
    expected = expected.substr(0, at) + "9" + expected.substr(at + 2);
    EXPECT_EQ(ReadBytes(SettingsPath()), expected) << "only the value changes";

    ASSERT_TRUE(Write(SECTION_SS, "New", "1"));
    expected.insert(expected.find("\r\n\r\n[Other]") + 2, "New=1\r\n");
    EXPECT_EQ(ReadBytes(SettingsPath()), expected) << "new key before the blank line";

    ASSERT_TRUE(Write(SECTION_SETTING, KEY_COLOR_B, "30"));
    expected += "\r\nColorB=30";
    EXPECT_EQ(ReadBytes(SettingsPath()), expected) << "still no final line end";

    ASSERT_TRUE(Write("Fresh", "a", "b"));
    expected += "\r\n[Fresh]\r\na=b\r\n";
    EXPECT_EQ(ReadBytes(SettingsPath()), expected) << "new lines use the file's CRLF";

    ASSERT_TRUE(Write("other", "COLORR", nullptr));
    expected.erase(expected.find("ColorR=1\r\n"), 10);
    EXPECT_EQ(ReadBytes(SettingsPath()), expected) << "NULL value deletes the key";

    ASSERT_TRUE(Write("Fresh", nullptr, nullptr));
    expected.erase(expected.find("[Fresh]"));
    EXPECT_EQ(ReadBytes(SettingsPath()), expected) << "NULL key deletes the section";

    ASSERT_TRUE(Write("Absent", "x", nullptr));
    ASSERT_TRUE(Write("Absent", nullptr, nullptr));
    EXPECT_EQ(ReadBytes(SettingsPath()), expected);
    EXPECT_EQ(GetPrivateProfileIntA("ss_section", "speed", 0, SETTINGS_FILE), 9u);
}

TEST_F(ProfileWriteTest, DeletingAKeyRemovesItsDuplicatesSoItReadsAsAbsent) {
    Settings("[S]\nk=1\nK=2\nj=3\n");
    ASSERT_TRUE(Write("S", "k", nullptr));
    EXPECT_EQ(ReadBytes(SettingsPath()), "[S]\nj=3\n");
}

TEST_F(ProfileWriteTest, RewritingABlankLedValueLeavesTheFileAsItWas) {
    Settings("[SETTING]\nFILENAME = old\n");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(Write(SECTION_SETTING, KEY_FILENAME, " /a b.x "));
    EXPECT_EQ(ReadBytes(SettingsPath()), "[SETTING]\nFILENAME = /a b.x \n");
}

TEST_F(ProfileWriteTest, KeepsTheFileMode) {
    Settings("[S]\nk=1\n");
    chmod(SettingsPath().c_str(), 0640);
    ASSERT_TRUE(Write("S", "k", "2"));
    struct stat st;
    ASSERT_EQ(stat(SettingsPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(ProfileWriteTest, WritesThroughASymlinkToItsTarget) {
    mkdir(Folder().c_str(), 0700);
    std::string real = root + "/real.ini";
    WriteBytes(real, "[S]\nk=1\n");
    ASSERT_EQ(symlink(real.c_str(), SettingsPath().c_str()), 0);
    ASSERT_TRUE(Write("S", "k", "2"));
    struct stat st;
    ASSERT_EQ(lstat(SettingsPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadBytes(real), "[S]\nk=2\n");
}

TEST_F(ProfileWriteTest, RefusesNamesAndValuesThatWouldInjectLines) {
    const std::string original = "[SETTING]\nFILENAME=a.x\n";
    Settings(original);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Write(SECTION_SETTING, KEY_FILENAME, "b.x\n[SS_SECTION]\nSPEED=10"));
    EXPECT_FALSE(Write(SECTION_SETTING, KEY_FILENAME, "b.x\rSPEED=10"));
    EXPECT_FALSE(Write(SECTION_SETTING, "SPEED=10\nX", "1"));
    EXPECT_FALSE(Write(SECTION_SETTING, "a=b", "1"));
    EXPECT_FALSE(Write(SECTION_SETTING, "[x]", "1"));
    EXPECT_FALSE(Write(SECTION_SETTING, ";hidden", "1"));
    EXPECT_FALSE(Write(SECTION_SETTING, " ", "1"));
    EXPECT_FALSE(Write("SETTING]\n[SS_SECTION", "k", "1"));
    EXPECT_FALSE(Write(nullptr, "k", "1"));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "1", nullptr));
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(ReadBytes(SettingsPath()), original);
    // Blanks, quotes, '=' and non-ASCII bytes in a value are plain text.
    ASSERT_TRUE(Write(SECTION_SETTING, KEY_FILENAME, "/m/a=b [c] \x83\x76.x"));
    char buffer[64];
    GetPrivateProfileStringA(SECTION_SETTING, KEY_FILENAME, "", buffer, sizeof buffer,
                             SETTINGS_FILE);
    EXPECT_STREQ(buffer, "/m/a=b [c] \x83\x76.x");
}

TEST_F(ProfileWriteTest, UnwritableFolderFailsAndLosesNothing) {
    const std::string original = "; mine\n[SS_SECTION]\nSPEED=3\n";
    std::string folder = root + "/locked";
    mkdir(folder.c_str(), 0755);
    std::string file = folder + "/Mirel.ini";
    WriteBytes(file, original);
    chmod(file.c_str(), 0666);
    chmod(folder.c_str(), 0555);
    // Without the lock file, and with a lock file that can be opened but no room
    // for a temporary file beside it.
    for (bool lockFileExists : {false, true}) {
        if (lockFileExists) {
            chmod(folder.c_str(), 0755);
            WriteBytes(folder + "/.Mirel.ini.lock", "");
            chmod((folder + "/.Mirel.ini.lock").c_str(), 0666);
            chmod(folder.c_str(), 0555);
        }
        int status = RunInChild([&] {
            DropRootInChild();
            if (WritePrivateProfileStringA("SS_SECTION", "SPEED", "8", file.c_str())) return 1;
            return GetPrivateProfileIntA("SS_SECTION", "SPEED", 0, file.c_str()) == 3 ? 0 : 2;
        });
        EXPECT_EQ(status, 0) << "lock file present: " << lockFileExists;
        EXPECT_EQ(ReadBytes(file), original);
        ExpectNoTemporaryFiles(folder);
    }
    // A read-only file in a writable folder is left alone too.
    chmod(folder.c_str(), 0777);
    chmod(file.c_str(), 0444);
    EXPECT_EQ(RunInChild([&] {
                  DropRootInChild();
                  return WritePrivateProfileStringA("SS_SECTION", "SPEED", "8", file.c_str());
              }),
              FALSE);
    EXPECT_EQ(ReadBytes(file), original);
}

TEST_F(ProfileWriteTest, UncreatableFolderFails) {
    WriteBytes(root + "/blocker", "");
    setenv("XDG_CONFIG_HOME", (root + "/blocker").c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Write("S", "k", "v"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("plumora"), std::string::npos);
}

TEST_F(ProfileWriteTest, FullDiskFailsAndLeavesTheOldFile) {
    // A file-size limit makes the write of the temporary file fail part-way,
    // as a full disk would.
    const std::string original = "[SETTING]\nFILENAME=" + std::string(200, 'x') + "\n";
    Settings(original);
    int status = RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        return Write(SECTION_SETTING, KEY_FILENAME, std::string(300, 'y').c_str()) ? 1 : 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadBytes(SettingsPath()), original);
    ExpectNoTemporaryFiles(Folder());
}

TEST_F(ProfileWriteTest, OversizedFilesAreNeverRewritten) {
    const std::string huge = "[S]\nk=1\n" + std::string(2 << 20, ';') + "\n";
    Settings(huge);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Write("S", "k", "2"));
    Settings("[S]\nk=1\n");
    EXPECT_FALSE(Write("S", "k", std::string(2 << 20, 'v').c_str())) << "result too large";
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadBytes(SettingsPath()), "[S]\nk=1\n");
    Settings(huge);
    EXPECT_EQ(ReadBytes(SettingsPath()).size(), huge.size());
}

} // namespace
