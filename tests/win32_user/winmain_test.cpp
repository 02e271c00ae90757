// The process entry: argv becomes the command-line text, WinMain's result the
// exit code; a host's window turns any start into a saver run in that window.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

int EntryUnderTest(int argc, char** argv);

namespace {

std::string g_commandLine;
bool g_argumentsAsExpected;

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
    g_commandLine = commandLine;
    g_argumentsAsExpected = instance && !previous && showCommand == SW_SHOWDEFAULT;
    return 42;
}

namespace {

TEST(ProcessEntry, ArgumentsBecomeTheCommandLineUnlessAHostGivesAWindow) {
    const struct {
        std::vector<std::string> args;
        const char* variable; // XSCREENSAVER_WINDOW
        const char* line;     // null: ends with 1 before WinMain
    } cases[] = {             // The arguments after the name, joined with single blanks.
                 {{"p", "/p", "1234"}, nullptr, "/p 1234"},
                 {{"p", "/c /s"}, nullptr, "/c /s"},
                 {{"p", "", "-S"}, nullptr, " -S"},
                 // A host's window runs the saver in it, and only then. (No arguments at all,
                 // and --window-id with a window's id in hexadecimal: e2e tests.)
                 {{"p", "-window-id", "42"}, "7", "/s"},
                 {{"p", "--root", "--window-id=0X2A"}, nullptr, "/s"},
                 {{"p", "--root"}, "0x400007", "/s"},
                 {{"p"}, "12", "/s"},
                 {{"p", "--root"}, nullptr, "--root"},
                 {{"p", "/p", "1234"}, "0x400007", "/p 1234"},
                 {{"p", "--window-id"}, nullptr, nullptr},
                 {{"p", "--window-id", "0"}, nullptr, nullptr},
                 {{"p", "--window-id", "-5"}, nullptr, nullptr},
                 {{"p", "--root"}, "0x40zz", nullptr}};
    for (auto c : cases) {
        SCOPED_TRACE(c.args.back() + " " + (c.variable ? c.variable : "-"));
        if (c.variable)
            setenv("XSCREENSAVER_WINDOW", c.variable, 1);
        else
            unsetenv("XSCREENSAVER_WINDOW");
        g_commandLine = "(not called)";
        std::vector<char*> argv;
        for (std::string& a : c.args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(EntryUnderTest(int(c.args.size()), argv.data()), c.line ? 42 : 1);
        EXPECT_EQ(g_commandLine, c.line ? c.line : "(not called)");
        EXPECT_TRUE(!c.line || g_argumentsAsExpected);
    }
    unsetenv("XSCREENSAVER_WINDOW");
}

} // namespace
