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

// A holder that ends without closing its handle is every saver run, in e2e_saver.
TEST_F(MutexTest, DroppedWhenTheHolderIsKilled) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    if (holder == 0) {
        HANDLE h = CreateMutexA(nullptr, TRUE, "Tessival");
        if (!h || GetLastError() != ERROR_SUCCESS || write(ready[1], "!", 1) != 1) _exit(1);
        pause();
    }
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    EXPECT_EQ(ProbeFromChild("Tessival"), 1);
    kill(holder, SIGKILL);
    ASSERT_EQ(waitpid(holder, nullptr, 0), holder);
    EXPECT_EQ(ProbeFromChild("Tessival"), 0);
}

TEST_F(MutexTest, LockFileNamesStayInOneFolderAndExecsDoNotInheritThem) {
    HANDLE h = CreateMutexA(nullptr, TRUE, "Global\\../x/y");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ListFolder(runtimeDir), std::vector<std::string>{"Global_.._x_y.lock"});
    // A program started meanwhile (which outlives the saver) must not keep the lock.
    int locks = 0;
    std::error_code gone; // the folder listing's own descriptor
    for (const std::string& fd : ListFolder("/proc/self/fd"))
        if (std::filesystem::read_symlink("/proc/self/fd/" + fd, gone) ==
            runtimeDir + "/Global_.._x_y.lock")
            locks += fcntl(std::stoi(fd), F_GETFD) == FD_CLOEXEC;
    EXPECT_EQ(locks, 1);
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
