// Windows-style paths against the installed layout, and debug output.
#include "kernel_test_support.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using PathsTest = KernelTest;

TEST_F(PathsTest, DriveRootIsAboveTheProgramFolderAndNamesMatchAnyCase) {
    // The installed layout: programs in windows/, the model in XFile/.
    mkdir((root + "/windows").c_str(), 0755);
    mkdir((root + "/XFile").c_str(), 0755);
    WriteBytes(root + "/XFile/parasol.x", "xof ");
    WriteBytes(root + "/XFile/Parasol.x", "other");
    Win32TestSetProgramDir((root + "/windows/").c_str());
    EXPECT_EQ(Win32ProgramDir(), root + "/windows");
    const std::pair<const char*, const char*> cases[] = {
        {"c:\\xfile\\parasol.x", "/XFile/parasol.x"},
        {"C:/XFile/parasol.x", "/XFile/parasol.x"},
        {"\\XFile\\parasol.x", "/XFile/parasol.x"},
        {"C:\\\\XFile\\\\parasol.x", "/XFile/parasol.x"},
        {"C:\\XFile\\Parasol.x", "/XFile/Parasol.x"}, // the exact name wins
        {"C:\\XFILE\\PARASOL.x", "/XFile/Parasol.x"}, // else the first match in byte order
        {"C:\\XFile\\", "/XFile/"},
        {"C:\\", "/"},
        {"C:\\WINDOWS\\Quenset.exe", "/windows/Quenset.exe"},
        {"C:\\NoSuch\\ship.x", "/NoSuch/ship.x"},
        {"D:\\models\\ship.x", "/models/ship.x"}};
    for (const auto& [windows, posix] : cases)
        EXPECT_EQ(Win32MapPath(windows), root + posix) << windows;

    // The windows folder is the program folder whatever its name.
    mkdir((root + "/bin").c_str(), 0755);
    Win32TestSetProgramDir((root + "/bin").c_str());
    EXPECT_EQ(Win32MapPath("C:\\windows"), root + "/bin");
    EXPECT_EQ(Win32MapPath("C:\\XFile\\parasol.x"), root + "/XFile/parasol.x");

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

TEST(DebugOutputTest, WholeTextToStderr) {
    testing::internal::CaptureStderr();
    for (const char* text :
         {"LMX:DDCreateError ", "", static_cast<const char*>(nullptr), "line two\n"})
        OutputDebugStringA(text);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "LMX:DDCreateError line two\n");
}

} // namespace
