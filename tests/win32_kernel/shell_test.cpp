// ShellExecuteA "open": programs start from the program folder only, without a
// shell, in a session of their own, and leave no zombie behind.
#include "kernel_test_support.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class ShellTest : public KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        programDir = root + "/windows";
        ASSERT_EQ(mkdir(programDir.c_str(), 0755), 0);
        Win32TestSetProgramDir(programDir.c_str());
        fifo = root + "/report";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        setenv("PLUMORA_TEST_REPORT", fifo.c_str(), 1);
        alarm(60); // a launch that never reports must not hang the run
    }
    void TearDown() override {
        alarm(0);
        unsetenv("PLUMORA_TEST_REPORT");
        KernelTest::TearDown();
    }

    // A program that tells the test its arguments, folder, session and parent.
    void InstallReporter(const std::string& name, mode_t mode = 0755) {
        std::string path = programDir + "/" + name;
        WriteBytes(path, "#!/bin/sh\n"
                         "{ printf 'args:'; for a in \"$@\"; do printf '<%s>' \"$a\"; done; echo\n"
                         "  echo \"cwd:$(pwd)\"\n"
                         "  echo \"sid:$(cut -d' ' -f6 /proc/$$/stat)\"\n"
                         "  echo \"pid:$$\"\n"
                         "  echo \"ppid:$PPID\"\n"
                         "  echo \"blocked:$(awk '/SigBlk/{print $2}' /proc/$$/status)\"\n"
                         "  echo \"ignored:$(awk '/SigIgn/{print $2}' /proc/$$/status)\"\n"
                         "} > \"$PLUMORA_TEST_REPORT\"\n");
        chmod(path.c_str(), mode);
    }

    // Blocks until the started program has written its report.
    std::string Report() { return ReadBytes(fifo); }

    static intptr_t Code(HINSTANCE h) { return reinterpret_cast<intptr_t>(h); }

    std::string programDir, fifo;
};

std::string Field(const std::string& report, const std::string& name) {
    size_t at = report.find(name + ":");
    if (at == std::string::npos) return "?";
    at += name.size() + 1;
    return report.substr(at, report.find('\n', at) - at);
}

// No child of ours is left, running or dead.
void ExpectNoChildren() {
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(ShellTest, ScreensaverFileRunsWithSlashSInANewSession) {
    InstallReporter("Plumora.scr");
    intptr_t code = Code(
        ShellExecuteA(nullptr, "open", "Plumora.scr", "/c ignored", "C:\\windows", SW_SHOWNORMAL));
    EXPECT_GT(code, 32);
    std::string report = Report();
    EXPECT_EQ(Field(report, "args"), "</S>") << "the association's switch, parameters dropped";
    EXPECT_EQ(Field(report, "cwd"), programDir);
    EXPECT_NE(Field(report, "sid"), std::to_string(getsid(0)));
    EXPECT_NE(Field(report, "ppid"), std::to_string(getpid())) << "not our child";
    // The program ends right after reporting; it was never our child, and the
    // intermediate process has been reaped.
    ExpectNoChildren();
}

TEST_F(ShellTest, ProgramGetsItsParametersAsWordsWithoutAShell) {
    InstallReporter("Quenset.exe");
    EXPECT_GT(Code(ShellExecuteA(nullptr, nullptr, "quenset.EXE",
                                 "one  \"two words\" $(touch x);rm *", "c:\\WINDOWS", SW_SHOW)),
              32);
    EXPECT_EQ(Field(Report(), "args"), "<one><two words><$(touch><x);rm><*>");
    EXPECT_FALSE(Exists(programDir + "/x"));
    ExpectNoChildren();
}

TEST_F(ShellTest, RefusesAnythingButAPlainNameInTheFolder) {
    InstallReporter("Plumora.scr");
    mkdir((root + "/elsewhere").c_str(), 0755);
    WriteBytes(root + "/elsewhere/evil", "#!/bin/sh\ntouch \"$PLUMORA_TEST_REPORT.evil\"\n");
    chmod((root + "/elsewhere/evil").c_str(), 0755);
    testing::internal::CaptureStderr();
    for (const char* name : {"../elsewhere/evil", "/bin/sh", "..", "sub/Plumora.scr",
                             "..\\elsewhere\\evil", "C:\\elsewhere\\evil", "x..scr"}) {
        intptr_t code = Code(ShellExecuteA(nullptr, "open", name, nullptr, "C:\\windows", 1));
        EXPECT_EQ(code, SE_ERR_ACCESSDENIED) << name;
    }
    // Naming another folder doesn't reach the programs in it either.
    for (const char* folder : {"/bin", "C:\\elsewhere"}) {
        const char* name = folder[0] == '/' ? "sh" : "evil";
        EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", name, nullptr, folder, 1)),
                  SE_ERR_ACCESSDENIED)
            << folder;
    }
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(Exists(fifo + ".evil"));
    ExpectNoChildren();
}

TEST_F(ShellTest, ReportsMissingAndUnrunnablePrograms) {
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", "Plumora.scr", nullptr, "C:\\windows", 1)),
              SE_ERR_FNF);
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", "Plumora.scr", nullptr, "C:\\nowhere", 1)),
              SE_ERR_PNF);
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", "", nullptr, "C:\\windows", 1)), SE_ERR_FNF);
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "print", "Plumora.scr", nullptr, "C:\\windows", 1)),
              SE_ERR_NOASSOC);

    testing::internal::CaptureStderr();
    InstallReporter("Plain.txt", 0644);
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", "Plain.txt", nullptr, "C:\\windows", 1)),
              SE_ERR_ACCESSDENIED);
    mkdir((programDir + "/Folder.scr").c_str(), 0755);
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", "Folder.scr", nullptr, "C:\\windows", 1)),
              SE_ERR_ACCESSDENIED);
    // Executable, but the exec itself fails: reported, not claimed as started.
    WriteBytes(programDir + "/Broken.exe", "#!/no/such/interpreter\n");
    chmod((programDir + "/Broken.exe").c_str(), 0755);
    EXPECT_LE(Code(ShellExecuteA(nullptr, "open", "Broken.exe", nullptr, "C:\\windows", 1)), 32);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Broken.exe"), std::string::npos) << errors;
    ExpectNoChildren();
}

TEST_F(ShellTest, LaunchWithSignalsBlockedAndChildrenIgnored) {
    // The settings program's launch runs amid other threads; the started
    // program must still get ordinary signal handling.
    InstallReporter("Plumora.scr");
    signal(SIGCHLD, SIG_IGN);
    sigset_t all;
    sigfillset(&all);
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &all, &old);
    // No folder: the program folder; the letter case of the name may differ.
    intptr_t code = Code(ShellExecuteA(nullptr, "OPEN", "PLUMORA.SCR", nullptr, nullptr, 1));
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    signal(SIGCHLD, SIG_DFL);
    EXPECT_GT(code, 32);
    std::string report = Report();
    EXPECT_EQ(Field(report, "args"), "</S>");
    EXPECT_EQ(Field(report, "cwd"), programDir);
    EXPECT_EQ(Field(report, "blocked"), "0000000000000000");
    // Signals 32 and 33 belong to the C library, which won't let a program reset
    // them; a parent such as make may have left them ignored.
    const uint64_t libcSignals = 0x180000000ull;
    EXPECT_EQ(std::stoull(Field(report, "ignored"), nullptr, 16) & ~libcSignals, 0u);
}

} // namespace
