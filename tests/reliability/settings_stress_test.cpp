// The settings file under the two programs' real use: the settings program
// rewriting the colour and speed keys while the saver reads them, and the
// settings program killed in the middle of a write.
#include "reliability_support.h"
#include "settings_keys.h"
#include "windows.h"

#include <csignal>
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

[[noreturn]] void WriteForever() {
    for (unsigned i = 0;; ++i)
        WriteGroup(i % 2 ? kHigh : kLow);
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

using SettingsStress = FreshFolders;

TEST_F(SettingsStress, SaverReadsNoTornValueWhileTheSettingsProgramWrites) {
    WriteBytes(settings, FileWith(kLow));
    pid_t writer = fork();
    if (writer == 0) WriteForever();

    constexpr int kIterations = 10000;
    int torn = 0, high = 0;
    for (int i = 0; i < kIterations; ++i) {
        const Group seen = Read();
        if (FileWith(seen).find("torn") != std::string::npos ||
            GetPrivateProfileIntA(SECTION_SS, KEY_SHADE, -1, SETTINGS_FILE) != 1)
            ++torn;
        // Read raw, as any other program would: never a part-written file.
        const std::string bytes = ReadBytes(settings);
        if (!bytes.ends_with("FILENAME=C:\\XFile\\parasol.x\r\n")) ++torn;
        high += seen.r == kHigh.r;
    }
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(torn, 0) << "of " << kIterations << " reads";
    // Both states were seen, so the reads really raced the writes.
    EXPECT_GT(high, 0);
    EXPECT_LT(high, kIterations);
}

TEST_F(SettingsStress, KillingTheWriterAnywhereLeavesAWholeFile) {
    WriteBytes(settings, FileWith(kLow));
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayUs(0, 3000);
    for (int round = 0; round < 300; ++round) {
        pid_t writer = fork();
        if (writer == 0) WriteForever();
        usleep(useconds_t(delayUs(random)));
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        // Whatever the moment, the file is one the writes can produce: every
        // byte of the hand-kept file, each key with a whole value.
        const Group seen = Read();
        ASSERT_EQ(ReadBytes(settings), FileWith(seen)) << "round " << round << ", seed " << seed;
    }
    // The next write takes over after the killed ones, keeps the file whole and
    // leaves no temporary file behind.
    WriteGroup(kHigh);
    EXPECT_EQ(ReadBytes(settings), FileWith(kHigh));
    for (const auto& entry : std::filesystem::directory_iterator(root + "/config/plumora"))
        EXPECT_TRUE(entry.path().filename() == "Mirel.ini" ||
                    entry.path().filename() == ".Mirel.ini.lock")
            << entry.path();
}

} // namespace
