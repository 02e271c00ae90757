// Nothing from the settings file or a model's file name reaches a shell: the
// saver is run on settings whose FILENAME is full of shell syntax, and on a
// real model whose own name is, and nothing it names gets run.
#include "../support/temp_folders.h"

#include <xfile/xwriter.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Whether the process handles SIGTERM itself yet (until then the signal would just kill it).
bool CatchesTerm(pid_t pid) {
    const std::string status = ReadBytes("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("SigCgt:");
    return at != std::string::npos &&
           (std::stoull(status.substr(at + 7), nullptr, 16) >> (SIGTERM - 1) & 1);
}

class SaverInputSecurity : public TempFolders {
  protected:
    void SetUp() override {
        TempFolders::SetUp();
        const char* saver = getenv("PLUMORA_SAVER");
        if (!saver || !*saver) {
            ASSERT_STRNE(getenv("CI"), "true") << "PLUMORA_SAVER names no saver program";
            GTEST_SKIP() << "PLUMORA_SAVER names no saver program";
        }
        program = saver;
        work = root + "/work";
        mkdir(work.c_str(), 0700);
        mkdir(Folder().c_str(), 0700);
        marker = work + "/X";
        // Whatever the saver starts and leaves running becomes our child, to be waited for.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
    }

    // Runs the saver with /s in the work folder on a headless display and ends it as the
    // session would, as soon as it can take that: it handles the ending in its frame loop, so
    // it has loaded its scene by then. Returns its standard error once it and anything it
    // started have ended.
    std::string RunSaver() {
        std::string errPath = root + "/stderr.txt";
        pid_t child = fork();
        if (child == 0) {
            if (chdir(work.c_str()) != 0) _exit(120);
            int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(err, 2);
            setenv("SDL_VIDEODRIVER", "dummy", 1);
            setenv("SDL_FRAMEBUFFER_ACCELERATION", "0", 1);
            execl(program.c_str(), program.c_str(), "/s", (char*)nullptr);
            _exit(121);
        }
        if (child < 0) {
            ADD_FAILURE() << "cannot start the saver: " << strerror(errno);
            return "";
        }
        for (int wait = 0; wait < 6000 && !CatchesTerm(child); ++wait) // a minute at most
            usleep(10 * 1000);
        kill(child, SIGTERM);
        int status = 0;
        waitpid(child, &status, 0);
        while (waitpid(-1, nullptr, 0) > 0) {
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        return ReadBytes(errPath);
    }

    std::string program, work, marker;
};

TEST_F(SaverInputSecurity, FilenameIsNeverRunThroughAShell) {
    // Shell syntax that would create the marker if the text ever met a shell,
    // relative (the saver's working folder) and absolute; none names a model.
    std::vector<std::string> names = {"$(touch " + marker + ")", "`touch " + marker + "`",
                                      "/nonexistent/a.x;touch " + marker};
    for (const char* name :
         {"$(touch X)", "`touch X`", "x.x; touch X", "x.x | touch X", "x.x && touch X",
          "'; touch X; '", "\"; touch X; \"", "> X", "x.x\ttouch X", "C:\\XFile\\$(touch X).x"})
        names.push_back(name);
    const size_t missing = names.size();
    // And real models whose own names are shell syntax: they load as plain files.
    for (const char* name :
         {"$(touch X).x", "`touch X`.x", "a;touch X;b.x", "a|touch X.x", "it's \"q\" & touch X.x"})
        names.push_back(work + "/" + name);
    xfile::MeshDesc tri;
    tri.positions = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}};
    tri.faces = {{0, 1, 2}};
    const std::vector<uint8_t> model = xfile::write(tri, xfile::Format::Text);
    // The last: a line break cannot hide in a value, what follows it is a line of its own.
    names.push_back("a.x\n$(touch X)\n`touch X`");
    for (size_t i = 0; i < names.size(); ++i) {
        const bool real = i >= missing && i + 1 < names.size();
        ASSERT_TRUE(!real || xfile::save(names[i].c_str(), model)) << names[i];
        WriteBytes(SettingsPath(), "[SETTING]\nFILENAME=" + names[i] + "\n");
        const std::string errors = RunSaver();
        EXPECT_EQ(access(marker.c_str(), F_OK), -1) << names[i];
        EXPECT_EQ(errors.find("cannot load model") == std::string::npos, real) << names[i] << "\n"
                                                                               << errors;
        unlink(marker.c_str());
        if (real) unlink(names[i].c_str());
    }
}

} // namespace
