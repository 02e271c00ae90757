// Several processes on one settings file: readers never see a torn file,
// writers never lose each other's keys, and a killed writer leaves a whole file.
#include "kernel_test_support.h"
#include "settings_keys.h"

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class ProfileConcurrencyTest : public KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        mkdir((configHome + "/plumora").c_str(), 0700);
    }
};

// The file in one of the two states the writer alternates between.
std::string StateWith(char fill) {
    return "; kept\r\n[SETTING]\r\nFILENAME=" + std::string(3000, fill) +
           "\r\nColorR=1\r\n[Tail]\r\nsentinel=yes\r\n";
}

TEST_F(ProfileConcurrencyTest, ReaderRacingAWriterSeesOnlyWholeFiles) {
    const std::string a = StateWith('a'), b = StateWith('b');
    WriteBytes(SettingsPath(), a);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t writer = fork();
    if (writer == 0) {
        close(ready[0]);
        std::string va(3000, 'a'), vb(3000, 'b');
        for (int i = 0; i < 1000; ++i) {
            if (!WritePrivateProfileStringA("SETTING", "FILENAME", (i % 2 ? va : vb).c_str(),
                                            SETTINGS_FILE))
                _exit(1);
            if (i == 0) close(ready[1]); // the reader starts once the race is on
        }
        _exit(0);
    }
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 0);
    close(ready[0]);

    int torn = 0, sawA = 0, sawB = 0;
    char value[4096];
    for (int i = 0; i < 3000; ++i) {
        std::string bytes = ReadBytes(SettingsPath());
        if (bytes != a && bytes != b) ++torn;
        DWORD n =
            GetPrivateProfileStringA("SETTING", "FILENAME", "", value, sizeof value, SETTINGS_FILE);
        std::string v(value, n);
        if (v == std::string(3000, 'a'))
            ++sawA;
        else if (v == std::string(3000, 'b'))
            ++sawB;
        else
            ++torn;
        if (GetPrivateProfileIntA("SETTING", "ColorR", 0, SETTINGS_FILE) != 1) ++torn;
    }
    int status;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(sawA + sawB, 3000);
}

TEST_F(ProfileConcurrencyTest, ConcurrentWritersLoseNoKeys) {
    // Two processes each own a key; read-modify-write under the lock means the
    // last value of each survives, whatever the interleaving.
    auto writerBody = [](const char* key) {
        return [key] {
            for (int i = 0; i <= 300; ++i)
                if (!WritePrivateProfileStringA("S", key, std::to_string(i).c_str(), SETTINGS_FILE))
                    return 1;
            return 0;
        };
    };
    pid_t first = fork();
    if (first == 0) _exit(writerBody("first")());
    int second = RunInChild(writerBody("second"));
    int status;
    ASSERT_EQ(waitpid(first, &status, 0), first);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(GetPrivateProfileIntA("S", "first", 0, SETTINGS_FILE), 300u);
    EXPECT_EQ(GetPrivateProfileIntA("S", "second", 0, SETTINGS_FILE), 300u);
}

TEST_F(ProfileConcurrencyTest, KilledWriterLeavesACompleteFile) {
    const std::string head = "; settings\n[SS_SECTION]\nSPEED=5\n[SETTING]\nFILENAME=";
    WriteBytes(SettingsPath(), head + "start\n");
    for (int round = 0; round < 20; ++round) {
        int progress[2];
        ASSERT_EQ(pipe(progress), 0);
        pid_t writer = fork();
        if (writer == 0) {
            close(progress[0]);
            for (int i = 0;; ++i) {
                std::string value = std::string(size_t(100 + i % 500), 'x') + std::to_string(i);
                WritePrivateProfileStringA("SETTING", "FILENAME", value.c_str(), SETTINGS_FILE);
                if (write(progress[1], "!", 1) != 1) _exit(1);
            }
        }
        close(progress[1]);
        // Let it complete a varying number of writes, then kill it wherever it is.
        char buffer[64];
        for (int seen = 0; seen < 5 + round * 3;) {
            ssize_t n = read(progress[0], buffer, sizeof buffer);
            ASSERT_GT(n, 0);
            seen += int(n);
        }
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        close(progress[0]);

        std::string bytes = ReadBytes(SettingsPath());
        ASSERT_EQ(bytes.compare(0, head.size(), head), 0) << bytes;
        ASSERT_EQ(bytes.back(), '\n');
        char value[1024];
        DWORD n =
            GetPrivateProfileStringA("SETTING", "FILENAME", "", value, sizeof value, SETTINGS_FILE);
        ASSERT_EQ(n, bytes.size() - head.size() - 1);
        EXPECT_EQ(GetPrivateProfileIntA("SS_SECTION", "SPEED", 0, SETTINGS_FILE), 5u);
    }
    // The next writer takes over whatever temporary file the killed one left.
    ASSERT_TRUE(WritePrivateProfileStringA("SETTING", "FILENAME", "end", SETTINGS_FILE));
    EXPECT_EQ(ReadBytes(SettingsPath()), head + "end\n");
    for (const std::string& name : ListFolder(configHome + "/plumora"))
        EXPECT_TRUE(name == "Mirel.ini" || name == ".Mirel.ini.lock") << name;
}

} // namespace
