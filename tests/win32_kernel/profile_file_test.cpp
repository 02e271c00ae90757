// The settings file around the text rules: where a name leads, bounded and
// non-blocking reads, atomic writes that lose nothing when they fail, and
// concurrent writers. Readers racing writers and killed writers are covered at
// scale in tests/reliability.
#include "kernel_test_support.h"
#include "settings_keys.h"

#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class ProfileFileTest : public KernelTest {
  protected:
    void Settings(const std::string& bytes) {
        mkdir(Folder().c_str(), 0700);
        WriteBytes(SettingsPath(), bytes);
    }
    BOOL Write(const char* section, const char* key, const char* value) {
        return WritePrivateProfileStringA(section, key, value, SETTINGS_FILE);
    }
    UINT Speed() { return GetPrivateProfileIntA(SECTION_SS, KEY_SPEED, 5, SETTINGS_FILE); }
    mode_t Mode(const std::string& path) {
        struct stat st {};
        lstat(path.c_str(), &st);
        return st.st_mode;
    }
};

TEST_F(ProfileFileTest, NamesLeadToTheirFilesWhichWritesCreate) {
    EXPECT_EQ(Speed(), 5u);
    EXPECT_FALSE(Exists(Folder())) << "reading must not create anything";

    // A bare name lives in a private folder, made with any missing parents.
    setenv("XDG_CONFIG_HOME", (root + "/not/yet").c_str(), 1);
    ASSERT_TRUE(Write("S", "k", "v"));
    EXPECT_EQ(ReadBytes(root + "/not/yet/plumora/Mirel.ini"), "[S]\nk=v\n");
    EXPECT_EQ(Mode(root + "/not/yet/plumora") & 0777, 0700u);
    ExpectNoTemporaryFiles(root + "/not/yet/plumora");

    // Other names are paths, Windows-style ones mapped.
    std::string own = root + "/own.ini";
    WriteBytes(own, "[S]\nk=4\n");
    EXPECT_EQ(GetPrivateProfileIntA("S", "k", 0, own.c_str()), 4u);
    mkdir((root + "/windows").c_str(), 0755);
    WriteBytes(root + "/Conf.INI", "[S]\nk=6\n");
    Win32TestSetProgramDir((root + "/windows").c_str());
    EXPECT_EQ(GetPrivateProfileIntA("S", "k", 0, "C:\\conf.ini"), 6u);

    WriteBytes(root + "/blocker", "");
    setenv("XDG_CONFIG_HOME", (root + "/blocker").c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Write("S", "k", "v"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("plumora"), std::string::npos);
}

TEST_F(ProfileFileTest, CopiesAreBoundedByTheBuffer) {
    char buffer[64] = "xxxxxxx";
    EXPECT_EQ(GetPrivateProfileStringA("A", "f", nullptr, buffer, 8, SETTINGS_FILE), 0u);
    EXPECT_STREQ(buffer, "") << "no file yet";
    Settings("[A]\nx=abcdefgh\n");
    EXPECT_EQ(GetPrivateProfileStringA("A", "x", "", buffer, 5, SETTINGS_FILE), 4u);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(GetPrivateProfileStringA("A", "x", "", buffer, 1, SETTINGS_FILE), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(GetPrivateProfileStringA("A", "x", "", buffer, 0, SETTINGS_FILE), 0u);
    EXPECT_EQ(GetPrivateProfileStringA("A", "none", "defaultlong", buffer, 5, SETTINGS_FILE), 4u);
    EXPECT_STREQ(buffer, "defa");
}

TEST_F(ProfileFileTest, UnreadableOrHugeFilesGiveDefaultsAndAreNeverRewritten) {
    const std::string huge = "[SS_SECTION]\nSPEED=9\n" + std::string(2 << 20, ';') + "\n";
    const std::function<void()> makeBad[] = {
        [&] { mkdir(SettingsPath().c_str(), 0700); },  // a folder where the file should be
        [&] { mkfifo(SettingsPath().c_str(), 0600); }, // must not block the reader
        [&] { Settings(huge); }};
    for (const auto& make : makeBad) {
        std::filesystem::remove_all(SettingsPath());
        mkdir(Folder().c_str(), 0700);
        make();
        testing::internal::CaptureStderr();
        EXPECT_EQ(Speed(), 5u);
        EXPECT_FALSE(Write(SECTION_SS, KEY_SPEED, "3"));
        EXPECT_NE(testing::internal::GetCapturedStderr().find("Mirel.ini"), std::string::npos);
    }
    EXPECT_EQ(ReadBytes(SettingsPath()), huge);

    static const char junk[] = "[SS_SECTION]\nSPEED=8\n\0\xff\xfe[\n=\n";
    Settings(std::string(junk, sizeof junk - 1));
    EXPECT_EQ(Speed(), 8u) << "binary junk around the keys does no harm";
}

TEST_F(ProfileFileTest, RefusedWritesSayWhyAndChangeNothing) {
    const std::string original = "[SETTING]\nFILENAME=a.x\n";
    Settings(original);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Write(SECTION_SETTING, KEY_FILENAME, "b.x\n[SS_SECTION]\nSPEED=10"));
    EXPECT_FALSE(Write("S", "k", std::string(2 << 20, 'v').c_str())) << "result too large";
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Mirel.ini"), std::string::npos);
    EXPECT_FALSE(Write(nullptr, "k", "1"));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "1", nullptr));
    EXPECT_EQ(ReadBytes(SettingsPath()), original);
}

TEST_F(ProfileFileTest, KeepsTheModeAndWritesThroughASymlink) {
    mkdir(Folder().c_str(), 0700);
    std::string real = root + "/real.ini";
    WriteBytes(real, "[S]\r\nk=1\r\n");
    chmod(real.c_str(), 0640);
    ASSERT_EQ(symlink(real.c_str(), SettingsPath().c_str()), 0);
    ASSERT_TRUE(Write("S", "k", "2"));
    ASSERT_TRUE(Write("S", "n", "3"));
    EXPECT_TRUE(S_ISLNK(Mode(SettingsPath())));
    EXPECT_EQ(Mode(real) & 07777, 0640u);
    EXPECT_EQ(ReadBytes(real), "[S]\r\nk=2\r\nn=3\r\n");
}

TEST_F(ProfileFileTest, FailedWritesLoseNothingAndLeaveNoTemporaryFile) {
    const std::string original = "; mine\n[SS_SECTION]\nSPEED=3\n";
    std::string folder = root + "/locked", file = folder + "/Mirel.ini";
    mkdir(folder.c_str(), 0755);
    WriteBytes(file, original);
    // No lock file; a lock file that opens but no room for a temporary file beside
    // it; a read-only file in a writable folder; a file-size limit that makes the
    // write of the temporary file fail part-way, as a full disk would.
    for (int round = 0; round < 4; ++round) {
        if (round == 1) WriteBytes(folder + "/.Mirel.ini.lock", "");
        chmod((folder + "/.Mirel.ini.lock").c_str(), 0666);
        chmod(file.c_str(), round == 2 ? 0444 : 0666);
        chmod(folder.c_str(), round >= 2 ? 0777 : 0555);
        int status = RunInChild([&] {
            DropRootInChild();
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit = {20, 20};
            if (round == 3) setrlimit(RLIMIT_FSIZE, &limit);
            const std::string value(round == 3 ? 100 : 1, '8');
            if (WritePrivateProfileStringA("SS_SECTION", "SPEED", value.c_str(), file.c_str()))
                return 1;
            return GetPrivateProfileIntA("SS_SECTION", "SPEED", 0, file.c_str()) == 3 ? 0 : 2;
        });
        EXPECT_EQ(status, 0) << "round " << round;
        EXPECT_EQ(ReadBytes(file), original);
        ExpectNoTemporaryFiles(folder);
        chmod(folder.c_str(), 0755);
    }
}

TEST_F(ProfileFileTest, ConcurrentWritersLoseNoKeys) {
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
    EXPECT_TRUE(waitpid(first, &status, 0) == first && WEXITSTATUS(status) == 0);
    EXPECT_EQ(GetPrivateProfileIntA("S", "first", 0, SETTINGS_FILE), 300u);
    EXPECT_EQ(GetPrivateProfileIntA("S", "second", 0, SETTINGS_FILE), 300u);
}

} // namespace
