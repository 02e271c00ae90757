// The single-instance mutex: held while its creator lives, seen as existing by
// any later creator, and gone when the holder dies however it ends.
#include "kernel_test_support.h"

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using MutexTest = KernelTest;

// 0 when a new mutex of that name could be created here, 1 when it already exists.
int ProbeFromChild(const char* name) {
    return RunInChild([name] {
        HANDLE h = CreateMutexA(nullptr, TRUE, name);
        return !h ? 2 : GetLastError() == ERROR_ALREADY_EXISTS ? 1 : 0;
    });
}

TEST_F(MutexTest, SecondCreatorSeesAlreadyExists) {
    HANDLE h = CreateMutexA(nullptr, TRUE, "Tessival");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(ProbeFromChild("Tessival"), 1);
    EXPECT_EQ(ProbeFromChild("Other"), 0);

    // In the same process too, and the second handle is still a valid one.
    HANDLE again = CreateMutexA(nullptr, TRUE, "Tessival");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(ReleaseMutex(again)) << "the second handle never owned it";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_EQ(ProbeFromChild("Tessival"), 1) << "closing the second handle keeps the first";

    EXPECT_TRUE(ReleaseMutex(h));
    EXPECT_FALSE(ReleaseMutex(h));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(ProbeFromChild("Tessival"), 0);
    EXPECT_FALSE(CloseHandle(h)) << "a closed handle is no longer valid";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(MutexTest, DroppedWhenTheHolderDies) {
    for (int sig : {SIGKILL, 0}) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t holder = fork();
        if (holder == 0) {
            HANDLE h = CreateMutexA(nullptr, TRUE, "Tessival");
            if (!h || GetLastError() != ERROR_SUCCESS || write(ready[1], "!", 1) != 1) _exit(1);
            if (sig) pause();
            _exit(0); // without releasing or closing
        }
        close(ready[1]);
        char c;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        close(ready[0]);
        if (sig) {
            EXPECT_EQ(ProbeFromChild("Tessival"), 1);
            kill(holder, sig);
        }
        ASSERT_EQ(waitpid(holder, nullptr, 0), holder);
        EXPECT_EQ(ProbeFromChild("Tessival"), 0) << "signal " << sig;
    }
}

TEST_F(MutexTest, LockFileIsNotInheritedAcrossExec) {
    HANDLE h = CreateMutexA(nullptr, TRUE, "Tessival");
    ASSERT_NE(h, nullptr);
    // A program started meanwhile (which outlives the saver) must not keep it.
    int execed[2];
    ASSERT_EQ(pipe2(execed, O_CLOEXEC), 0);
    pid_t child = fork();
    if (child == 0) {
        execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
        _exit(9);
    }
    close(execed[1]);
    char c;
    ASSERT_EQ(read(execed[0], &c, 1), 0); // end of file: the exec happened
    close(execed[0]);
    CloseHandle(h);
    EXPECT_EQ(ProbeFromChild("Tessival"), 0);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

TEST_F(MutexTest, LockFileNamesStayInOneFolder) {
    HANDLE h = CreateMutexA(nullptr, TRUE, "Global\\../x/y");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ListFolder(runtimeDir), std::vector<std::string>{"Global_.._x_y.lock"});
    CloseHandle(h);

    // Without a runtime folder: /tmp, with the user id in the name.
    unsetenv("XDG_RUNTIME_DIR");
    std::string name = "plumora-test-" + std::to_string(getpid());
    std::string lock = "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
    h = CreateMutexA(nullptr, TRUE, name.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(Exists(lock));
    EXPECT_EQ(ProbeFromChild(name.c_str()), 1);
    CloseHandle(h);
    unlink(lock.c_str());
}

} // namespace
