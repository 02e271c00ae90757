// Writing the settings file: every byte not changed stays as it was, a failed
// write loses nothing, and concurrent writers lose no keys. Readers racing
// writers and killed writers are covered at scale in tests/reliability.
#include "kernel_test_support.h"
#include "settings_keys.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    mode_t Mode(const std::string& path) {
        struct stat st {};
        lstat(path.c_str(), &st);
        return st.st_mode;
    }
};

TEST_F(ProfileWriteTest, CreatesFolderFileSectionAndKeyOrSaysWhyNot) {
    ASSERT_TRUE(Write(SECTION_SETTING, KEY_COLOR_R, "12"));
    ASSERT_TRUE(Write(SECTION_SS, KEY_SPEED, "7"));
    ASSERT_TRUE(Write(SECTION_SETTING, KEY_COLOR_G, "0"));
    EXPECT_EQ(ReadBytes(SettingsPath()), "[SETTING]\nColorR=12\nColorG=0\n[SS_SECTION]\nSPEED=7\n");
    EXPECT_EQ(Mode(Folder()) & 0777, 0700u);
    ExpectNoTemporaryFiles(Folder());

    setenv("XDG_CONFIG_HOME", (root + "/not/yet").c_str(), 1); // missing parents too
    ASSERT_TRUE(Write("S", "k", "v"));
    EXPECT_EQ(ReadBytes(root + "/not/yet/plumora/Mirel.ini"), "[S]\nk=v\n");

    WriteBytes(root + "/blocker", "");
    setenv("XDG_CONFIG_HOME", (root + "/blocker").c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Write("S", "k", "v"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("plumora"), std::string::npos);
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
                                 "colorr=2\r\n"
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
    expected.erase(expected.find("ColorR=1\r\n"), 20);
    EXPECT_EQ(ReadBytes(SettingsPath()), expected) << "NULL deletes the key and its duplicates";

    ASSERT_TRUE(Write("Fresh", nullptr, nullptr));
    expected.erase(expected.find("[Fresh]"));
    EXPECT_EQ(ReadBytes(SettingsPath()), expected) << "NULL key deletes the section";

    ASSERT_TRUE(Write("Absent", "x", nullptr));
    ASSERT_TRUE(Write("Absent", nullptr, nullptr));
    EXPECT_EQ(ReadBytes(SettingsPath()), expected);
    EXPECT_EQ(GetPrivateProfileIntA("ss_section", "speed", 0, SETTINGS_FILE), 9u);
}

TEST_F(ProfileWriteTest, RewritingABlankLedValueLeavesTheFileAsItWas) {
    Settings("[SETTING]\nFILENAME = old\n");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(Write(SECTION_SETTING, KEY_FILENAME, " /a b.x "));
    EXPECT_EQ(ReadBytes(SettingsPath()), "[SETTING]\nFILENAME = /a b.x \n");
}

TEST_F(ProfileWriteTest, KeepsTheModeAndWritesThroughASymlink) {
    mkdir(Folder().c_str(), 0700);
    std::string real = root + "/real.ini";
    WriteBytes(real, "[S]\nk=1\n");
    chmod(real.c_str(), 0640);
    ASSERT_EQ(symlink(real.c_str(), SettingsPath().c_str()), 0);
    ASSERT_TRUE(Write("S", "k", "2"));
    EXPECT_TRUE(S_ISLNK(Mode(SettingsPath())));
    EXPECT_EQ(Mode(real) & 07777, 0640u);
    EXPECT_EQ(ReadBytes(real), "[S]\nk=2\n");
}

TEST_F(ProfileWriteTest, RefusesNamesAndValuesThatWouldInjectLines) {
    const std::string original = "[SETTING]\nFILENAME=a.x\n";
    Settings(original);
    const struct {
        const char *section, *key, *value;
    } refused[] = {{SECTION_SETTING, KEY_FILENAME, "b.x\n[SS_SECTION]\nSPEED=10"},
                   {SECTION_SETTING, KEY_FILENAME, "b.x\rSPEED=10"},
                   {SECTION_SETTING, "SPEED=10\nX", "1"},
                   {SECTION_SETTING, "a=b", "1"},
                   {SECTION_SETTING, "[x]", "1"},
                   {SECTION_SETTING, ";hidden", "1"},
                   {SECTION_SETTING, " ", "1"},
                   {"SETTING]\n[SS_SECTION", "k", "1"},
                   {nullptr, "k", "1"}};
    testing::internal::CaptureStderr();
    for (const auto& r : refused)
        EXPECT_FALSE(Write(r.section, r.key, r.value)) << r.key << "=" << r.value;
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
    std::string folder = root + "/locked", file = folder + "/Mirel.ini";
    mkdir(folder.c_str(), 0755);
    WriteBytes(file, original);
    // No lock file; a lock file that opens but no room for a temporary file
    // beside it; a read-only file in a writable folder.
    for (int round = 0; round < 3; ++round) {
        if (round == 1) WriteBytes(folder + "/.Mirel.ini.lock", "");
        chmod((folder + "/.Mirel.ini.lock").c_str(), 0666);
        chmod(file.c_str(), round == 2 ? 0444 : 0666);
        chmod(folder.c_str(), round == 2 ? 0777 : 0555);
        int status = RunInChild([&] {
            DropRootInChild();
            if (WritePrivateProfileStringA("SS_SECTION", "SPEED", "8", file.c_str())) return 1;
            return GetPrivateProfileIntA("SS_SECTION", "SPEED", 0, file.c_str()) == 3 ? 0 : 2;
        });
        EXPECT_EQ(status, 0) << "round " << round;
        EXPECT_EQ(ReadBytes(file), original);
        ExpectNoTemporaryFiles(folder);
        chmod(folder.c_str(), 0755);
    }
}

TEST_F(ProfileWriteTest, FullDiskOrAnOversizedResultLeavesTheOldFile) {
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

    Settings("[S]\nk=1\n");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Write("S", "k", std::string(2 << 20, 'v').c_str())) << "result too large";
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadBytes(SettingsPath()), "[S]\nk=1\n");
}

TEST_F(ProfileWriteTest, ConcurrentWritersLoseNoKeys) {
    // Each process owns a key; read-modify-write under the lock means the last
    // value of each survives, whatever the interleaving.
    auto writer = [](const char* key) {
        for (int i = 0; i <= 300; ++i)
            if (!WritePrivateProfileStringA("S", key, std::to_string(i).c_str(), SETTINGS_FILE))
                return 1;
        return 0;
    };
    pid_t first = fork();
    if (first == 0) _exit(writer("first"));
    EXPECT_EQ(RunInChild([&] { return writer("second"); }), 0);
    int status;
    ASSERT_EQ(waitpid(first, &status, 0), first);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(GetPrivateProfileIntA("S", "first", 0, SETTINGS_FILE), 300u);
    EXPECT_EQ(GetPrivateProfileIntA("S", "second", 0, SETTINGS_FILE), 300u);
}

} // namespace
