// Windows-style paths against the installed layout, and debug output.
#include "kernel_test_support.h"

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class PathsTest : public KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        // The installed layout: programs in windows/, the model in XFile/.
        mkdir((root + "/windows").c_str(), 0755);
        mkdir((root + "/XFile").c_str(), 0755);
        WriteBytes(root + "/XFile/parasol.x", "xof ");
        Win32TestSetProgramDir((root + "/windows/").c_str());
    }
};

TEST_F(PathsTest, DriveRootIsAboveTheProgramFolder) {
    EXPECT_EQ(Win32ProgramDir(), root + "/windows");
    EXPECT_EQ(Win32MapPath("C:\\XFile\\parasol.x"), root + "/XFile/parasol.x");
    EXPECT_EQ(Win32MapPath("c:\\xfile\\PARASOL.X"), root + "/XFile/parasol.x");
    EXPECT_EQ(Win32MapPath("C:/XFile/parasol.x"), root + "/XFile/parasol.x");
    EXPECT_EQ(Win32MapPath("\\XFile\\parasol.x"), root + "/XFile/parasol.x");
    EXPECT_EQ(Win32MapPath("C:\\XFile\\"), root + "/XFile/");
    EXPECT_EQ(Win32MapPath("C:\\"), root + "/");
    EXPECT_EQ(Win32MapPath("C:\\\\XFile\\\\parasol.x"), root + "/XFile/parasol.x");
}

TEST_F(PathsTest, WindowsFolderIsTheProgramFolderWhateverItsName) {
    EXPECT_EQ(Win32MapPath("c:\\windows"), root + "/windows");
    EXPECT_EQ(Win32MapPath("C:\\WINDOWS\\Quenset.exe"), root + "/windows/Quenset.exe");
    mkdir((root + "/bin").c_str(), 0755);
    Win32TestSetProgramDir((root + "/bin").c_str());
    EXPECT_EQ(Win32MapPath("C:\\windows"), root + "/bin");
    EXPECT_EQ(Win32MapPath("C:\\XFile\\parasol.x"), root + "/XFile/parasol.x");
}

TEST_F(PathsTest, ExactNameWinsAndMissingNamesPassThrough) {
    WriteBytes(root + "/XFile/Parasol.x", "other");
    EXPECT_EQ(Win32MapPath("C:\\XFile\\Parasol.x"), root + "/XFile/Parasol.x");
    EXPECT_EQ(Win32MapPath("C:\\XFile\\parasol.x"), root + "/XFile/parasol.x");
    EXPECT_EQ(Win32MapPath("C:\\XFILE\\PARASOL.x"), root + "/XFile/Parasol.x")
        << "first match in byte order";
    EXPECT_EQ(Win32MapPath("C:\\NoSuch\\ship.x"), root + "/NoSuch/ship.x");
    EXPECT_EQ(Win32MapPath("D:\\models\\ship.x"), root + "/models/ship.x");
}

TEST_F(PathsTest, PosixAndRelativePaths) {
    EXPECT_EQ(Win32MapPath("/home/u/My Models/a\\b.x"), "/home/u/My Models/a\\b.x");
    EXPECT_EQ(Win32MapPath(""), ".");
    EXPECT_EQ(Win32MapPath(nullptr), "");
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(root.c_str()), 0);
    EXPECT_EQ(Win32MapPath("xfile\\parasol.x"), "XFile/parasol.x");
    EXPECT_EQ(Win32MapPath("..\\x"), "../x");
    ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(PathsTest, ProgramFolderComesFromTheRunningBinary) {
    Win32TestSetProgramDir(nullptr);
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    std::string self(exe, size_t(n));
    EXPECT_EQ(Win32ProgramDir(), self.substr(0, self.rfind('/')));
}

TEST(DebugOutputTest, WholeTextToStderrOrTheSink) {
    testing::internal::CaptureStderr();
    OutputDebugStringA("LMX:DDCreateError ");
    OutputDebugStringA("");
    OutputDebugStringA(nullptr);
    OutputDebugStringA("line two\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "LMX:DDCreateError line two\n");

    std::string sunk;
    Win32TestSetDebugSink(
        [](const char* text, void* context) { *static_cast<std::string*>(context) += text; },
        &sunk);
    testing::internal::CaptureStderr();
    OutputDebugStringA("LMX:one\n");
    OutputDebugStringA("LMX:two\n");
    Win32TestSetDebugSink(nullptr, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(sunk, "LMX:one\nLMX:two\n");
}

} // namespace
