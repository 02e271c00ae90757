// The settings file under the two programs' real use: the settings program
// rewriting the colour and speed keys while the saver reads them, and the
// settings program killed in the middle of a write.
#include "reliability_support.h"
#include "settings_keys.h"
#include "windows.h"

#include <csignal>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The two states a slider group alternates between; the values differ in
// length, so a torn value ("25", "") cannot pass for either.
struct Group {
    const char* r;
    const char* g;
    const char* b;
    const char* speed;
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

bool OneOf(UINT value, const char* a, const char* b) {
    return value == UINT(atoi(a)) || value == UINT(atoi(b));
}

using SettingsStress = FreshFolders;

TEST_F(SettingsStress, SaverReadsNoTornValueWhileTheSettingsProgramWrites) {
    WriteBytes(settings, FileWith(kLow));
    pid_t writer = fork();
    if (writer == 0) WriteForever();

    constexpr int kIterations = 10000;
    int torn = 0, high = 0;
    for (int i = 0; i < kIterations; ++i) {
        // The saver's reads, with a default no file holds.
        UINT r = GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_R, -1, SETTINGS_FILE);
        UINT g = GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_G, -1, SETTINGS_FILE);
        UINT b = GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_B, -1, SETTINGS_FILE);
        UINT s = GetPrivateProfileIntA(SECTION_SS, KEY_SPEED, -1, SETTINGS_FILE);
        UINT shade = GetPrivateProfileIntA(SECTION_SS, KEY_SHADE, -1, SETTINGS_FILE);
        if (!OneOf(r, kLow.r, kHigh.r) || !OneOf(g, kLow.g, kHigh.g) ||
            !OneOf(b, kLow.b, kHigh.b) || !OneOf(s, kLow.speed, kHigh.speed) || shade != 1)
            ++torn;
        if (r == 255) ++high;
    }
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(torn, 0) << "of " << kIterations << " reads";
    // Both states were seen, so the reads really raced the writes.
    EXPECT_GT(high, 0);
    EXPECT_LT(high, kIterations);
    printf("stress: %d reads of five keys during writes, %d torn\n", kIterations, torn);
}

TEST_F(SettingsStress, KillingTheWriterAnywhereLeavesAWholeFile) {
    WriteBytes(settings, FileWith(kLow));
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayUs(0, 3000);
    constexpr int kRounds = 300;
    for (int round = 0; round < kRounds; ++round) {
        pid_t writer = fork();
        if (writer == 0) WriteForever();
        usleep(useconds_t(delayUs(random)));
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);

        // Whatever the moment, the file is one the writes can produce: every
        // byte of the hand-kept file, each key with a whole value.
        const std::string bytes = ReadBytes(settings);
        auto pick = [](UINT value, const char* low, const char* high) {
            return value == UINT(atoi(low)) ? low : high;
        };
        Group seen{pick(GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_R, -1, SETTINGS_FILE),
                        kLow.r, kHigh.r),
                   pick(GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_G, -1, SETTINGS_FILE),
                        kLow.g, kHigh.g),
                   pick(GetPrivateProfileIntA(SECTION_SETTING, KEY_COLOR_B, -1, SETTINGS_FILE),
                        kLow.b, kHigh.b),
                   pick(GetPrivateProfileIntA(SECTION_SS, KEY_SPEED, -1, SETTINGS_FILE), kLow.speed,
                        kHigh.speed)};
        ASSERT_EQ(bytes, FileWith(seen)) << "round " << round << ", seed " << seed;
    }
    // The next write takes over after the killed ones and keeps the file whole.
    WriteGroup(kHigh);
    EXPECT_EQ(ReadBytes(settings), FileWith(kHigh));
    printf("stress: %d writers killed at random points (seed %u), no damaged file\n", kRounds,
           seed);
}

} // namespace
