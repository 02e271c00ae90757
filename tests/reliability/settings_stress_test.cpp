// The settings file under the two programs' real use: the settings program
// rewriting the colour and speed keys while the saver reads them, and killed
// anywhere in a write.
#include "../support/temp_folders.h"
#include "settings_keys.h"
#include "windows.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The two states a slider group alternates between; the values differ in
// length, so a torn value ("25", "") cannot pass for either.
struct Group {
    const char *r, *g, *b, *speed;
};
constexpr Group kLow{"0", "9", "0", "1"};
constexpr Group kHigh{"255", "128", "77", "10"};

// A hand-kept file: comments, a section of someone else's, CRLF line ends.
std::string FileWith(const Group& v) {
    return std::string("; Plumora settings\r\n[SS_SECTION]\r\nSPEED=") + v.speed +
           "\r\nSHADE=1\r\n\r\n[Other]\r\nColorR=keep me\r\n[SETTING]\r\n; colour\r\nColorR=" +
           v.r + "\r\nColorG=" + v.g + "\r\nColorB=" + v.b +
           "\r\nFILENAME=C:\\XFile\\parasol.x\r\n";
}

// What the settings program does after every slider movement.
void WriteGroup(const Group& v) {
    WritePrivateProfileStringA(SECTION_SETTING, KEY_COLOR_R, v.r, SETTINGS_FILE);
    WritePrivateProfileStringA(SECTION_SETTING, KEY_COLOR_G, v.g, SETTINGS_FILE);
    WritePrivateProfileStringA(SECTION_SETTING, KEY_COLOR_B, v.b, SETTINGS_FILE);
    WritePrivateProfileStringA(SECTION_SS, KEY_SPEED, v.speed, SETTINGS_FILE);
}

// The group the file holds now, each key read as the saver reads it; a value
// that is neither of the two states (torn, or missing) reads as "torn".
Group Read() {
    auto pick = [](const char* section, const char* key, const char* low, const char* high) {
        UINT value = GetPrivateProfileIntA(section, key, -1, SETTINGS_FILE);
        return value == UINT(atoi(low)) ? low : value == UINT(atoi(high)) ? high : "torn";
    };
    return {pick(SECTION_SETTING, KEY_COLOR_R, kLow.r, kHigh.r),
            pick(SECTION_SETTING, KEY_COLOR_G, kLow.g, kHigh.g),
            pick(SECTION_SETTING, KEY_COLOR_B, kLow.b, kHigh.b),
            pick(SECTION_SS, KEY_SPEED, kLow.speed, kHigh.speed)};
}

// The settings program moving sliders back and forth from its start until it is killed.
struct Writer {
    pid_t pid = fork();
    Writer() {
        for (unsigned i = 0; pid == 0; ++i)
            WriteGroup(i % 2 ? kHigh : kLow);
    }
    ~Writer() {
        if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }
};

using SettingsStress = TempFolders;

TEST_F(SettingsStress, ReadsRacingWritesAndKilledWritersOnlyEverSeeWholeFiles) {
    mkdir(Folder().c_str(), 0700);
    WriteBytes(SettingsPath(), FileWith(kLow));
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    int changes = 0; // reads that found another value than the read before
    for (int round = 0; round < 300; ++round) {
        {
            const Writer writer;
            ASSERT_GT(writer.pid, 0) << "no writer: " << strerror(errno);
            // The first round reads until writes have landed between its reads many times, so
            // they really raced; the others stop after a few reads, anywhere in a write.
            const int reads = round ? std::uniform_int_distribution<int>(0, 40)(random) : 1 << 20;
            const char* last = nullptr;
            for (int n = 0; n < reads && (round || changes < 50); ++n) {
                // Key by key as the saver reads, and raw as any other program would: never a
                // torn value, never a part-written file.
                const Group seen = Read();
                ASSERT_EQ(FileWith(seen).find("torn"), std::string::npos) << "round " << round;
                ASSERT_EQ(GetPrivateProfileIntA(SECTION_SS, KEY_SHADE, -1, SETTINGS_FILE), 1u);
                ASSERT_TRUE(
                    ReadBytes(SettingsPath()).ends_with("FILENAME=C:\\XFile\\parasol.x\r\n"));
                changes += last && last != seen.r;
                last = seen.r;
            }
            ASSERT_GE(changes, 50) << "the reads never saw the writer at work";
        } // killed wherever it is
        // Whatever the moment, the file is one the writes can produce: every byte of the
        // hand-kept file, each key with a whole value.
        ASSERT_EQ(ReadBytes(SettingsPath()), FileWith(Read()))
            << "round " << round << ", seed " << seed;
    }
    // The next write takes over after the killed ones, keeps the file whole and leaves no
    // temporary file behind. Its values are new to every key: a write that changes nothing
    // replaces no file.
    constexpr Group kNew{"1", "2", "3", "4"};
    WriteGroup(kNew);
    EXPECT_EQ(ReadBytes(SettingsPath()), FileWith(kNew));
    ExpectNoTemporaryFiles(Folder());
}

} // namespace
