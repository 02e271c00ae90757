// Nothing from the settings file or a model's file name reaches a shell: the
// saver is run on settings whose FILENAME is full of shell syntax, and on a
// real model whose own name is, and nothing it names gets run.
#include "reliability_support.h"

#include <xfile/xwriter.h>

#include <csignal>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

class SaverInputSecurity : public FreshFolders {
  protected:
    void SetUp() override {
        FreshFolders::SetUp();
        const char* saver = getenv("PLUMORA_SAVER");
        if (!saver || !*saver) {
            const char* ci = getenv("CI");
            if (ci && strcmp(ci, "true") == 0) FAIL() << "PLUMORA_SAVER names no saver program";
            GTEST_SKIP() << "PLUMORA_SAVER names no saver program";
        }
        program = saver;
        work = root + "/work";
        mkdir(work.c_str(), 0700);
        marker = work + "/X";
    }

    // Runs the saver with /s in the work folder on a headless display until it
    // has loaded its scene, then ends it as the session would; returns its
    // standard error.
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
        // The model is loaded before the first frame; a second is plenty even
        // under a sanitizer. Anything a shell would have started would have
        // run by then as well.
        usleep(1000 * 1000);
        kill(child, SIGTERM);
        int status = 0;
        waitpid(child, &status, 0);
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
    for (size_t i = 0; i < names.size(); ++i) {
        ASSERT_TRUE(i < missing || xfile::save(names[i].c_str(), model)) << names[i];
        WriteBytes(settings, "[SETTING]\nFILENAME=" + names[i] + "\n");
        std::string errors = RunSaver();
        EXPECT_FALSE(Exists(marker)) << names[i];
        EXPECT_EQ(errors.find("cannot load model") == std::string::npos, i >= missing)
            << names[i] << "\n"
            << errors;
        unlink(marker.c_str());
        if (i >= missing) unlink(names[i].c_str());
    }
    // A line break cannot hide in a value: what follows it is a line of its own.
    WriteBytes(settings, "[SETTING]\nFILENAME=a.x\n$(touch X)\n`touch X`\n");
    RunSaver();
    EXPECT_FALSE(Exists(marker));
}

} // namespace
