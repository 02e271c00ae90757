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
        KernelTest::TearDown();
    }

    // A program that tells the test its arguments, folder, session and parent.
    void InstallReporter(const std::string& name, mode_t mode = 0755) {
        std::string path = programDir + "/" + name;
        WriteBytes(path, "#!/bin/sh\n"
                         "{ printf 'args:'; for a in \"$@\"; do printf '<%s>' \"$a\"; done; echo\n"
                         "  echo \"cwd:$(pwd)\"\n"
                         "  echo \"sid:$(cut -d' ' -f6 /proc/$$/stat)\"\n"
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
    // The settings program's launch runs amid other threads, with signals blocked;
    // the started program must still get ordinary signal handling.
    sigset_t all, old;
    sigfillset(&all);
    signal(SIGCHLD, SIG_IGN);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    // No folder means the program folder; the letter case of names may differ.
    intptr_t code =
        Code(ShellExecuteA(nullptr, "OPEN", "PLUMORA.SCR", "/c ignored", nullptr, SW_SHOWNORMAL));
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    signal(SIGCHLD, SIG_DFL);
    EXPECT_GT(code, 32);
    std::string report = Report();
    EXPECT_EQ(Field(report, "args"), "</S>") << "the association's switch, parameters dropped";
    EXPECT_EQ(Field(report, "cwd"), programDir);
    EXPECT_NE(Field(report, "sid"), std::to_string(getsid(0)));
    EXPECT_NE(Field(report, "ppid"), std::to_string(getpid())) << "not our child";
    EXPECT_EQ(Field(report, "blocked"), "0000000000000000");
    // Signals 32 and 33 belong to the C library, which won't let a program reset
    // them; a parent such as make may have left them ignored.
    const uint64_t libcSignals = 0x180000000ull;
    EXPECT_EQ(std::stoull(Field(report, "ignored"), nullptr, 16) & ~libcSignals, 0u);
}

TEST_F(ShellTest, ProgramGetsItsParametersAsWordsWithoutAShell) {
    InstallReporter("Quenset.exe");
    EXPECT_GT(Code(ShellExecuteA(nullptr, nullptr, "quenset.EXE",
                                 "one  \"two words\" $(touch x);rm *", "c:\\WINDOWS", SW_SHOW)),
              32);
    EXPECT_EQ(Field(Report(), "args"), "<one><two words><$(touch><x);rm><*>");
    EXPECT_FALSE(Exists(programDir + "/x"));
    ExpectNoChildren(); // the program was never our child, the process between is reaped
}

TEST_F(ShellTest, RefusesOtherFoldersAndReportsMissingOrUnrunnablePrograms) {
    InstallReporter("Plumora.scr");
    InstallReporter("Plain.txt", 0644);
    mkdir((programDir + "/Folder.scr").c_str(), 0755);
    mkdir((root + "/elsewhere").c_str(), 0755);
    WriteBytes(root + "/elsewhere/evil", "#!/bin/sh\ntouch \"$PLUMORA_TEST_REPORT.evil\"\n");
    chmod((root + "/elsewhere/evil").c_str(), 0755);
    testing::internal::CaptureStderr();
    for (const char* name :
         {"../elsewhere/evil", "/bin/sh", "..", "sub/Plumora.scr", "..\\elsewhere\\evil",
          "C:\\elsewhere\\evil", "x..scr", "Plain.txt", "Folder.scr"})
        EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", name, nullptr, "C:\\windows", 1)),
                  SE_ERR_ACCESSDENIED)
            << name;
    const struct {
        const char *verb, *name, *folder;
        intptr_t code;
    } cases[] = {// Naming another folder doesn't reach the programs in it either.
                 {"open", "sh", "/bin", SE_ERR_ACCESSDENIED},
                 {"open", "evil", "C:\\elsewhere", SE_ERR_ACCESSDENIED},
                 {"open", "Missing.scr", "C:\\windows", SE_ERR_FNF},
                 {"open", "", "C:\\windows", SE_ERR_FNF},
                 {"open", "Plumora.scr", "C:\\nowhere", SE_ERR_PNF},
                 {"print", "Plumora.scr", "C:\\windows", SE_ERR_NOASSOC}};
    for (const auto& c : cases)
        EXPECT_EQ(Code(ShellExecuteA(nullptr, c.verb, c.name, nullptr, c.folder, 1)), c.code)
            << c.verb << " " << c.name << " in " << c.folder;
    // Executable, but the exec itself fails: reported, not claimed as started.
    WriteBytes(programDir + "/Broken.exe", "#!/no/such/interpreter\n");
    chmod((programDir + "/Broken.exe").c_str(), 0755);
    EXPECT_LE(Code(ShellExecuteA(nullptr, "open", "Broken.exe", nullptr, "C:\\windows", 1)), 32);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Broken.exe"), std::string::npos) << errors;
    EXPECT_FALSE(Exists(fifo + ".evil"));
    ExpectNoChildren();
}

} // namespace
