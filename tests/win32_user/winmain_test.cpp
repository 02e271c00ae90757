// The process entry: argv becomes the command-line text, WinMain's result the
// exit code.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

int EntryUnderTest(int argc, char** argv);

namespace {

std::string g_commandLine;
bool g_argumentsAsExpected;

int Enter(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return EntryUnderTest(int(args.size()), argv.data());
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
    g_commandLine = commandLine;
    g_argumentsAsExpected = instance && !previous && showCommand == SW_SHOWDEFAULT;
    return 42;
}

namespace {

TEST(ProcessEntry, ArgumentsAfterTheNameAreJoinedWithSingleBlanks) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"Plumora.scr", "/p", "1234"}, "/p 1234"},
        {{"Plumora.scr"}, ""},
        {{"Plumora.scr", "/c /s"}, "/c /s"},
        {{"Plumora.scr", "", "-S"}, " -S"}};
    for (auto [args, line] : cases) {
        EXPECT_EQ(Enter(args), 42);
        EXPECT_EQ(g_commandLine, line);
        EXPECT_TRUE(g_argumentsAsExpected);
    }
}

TEST(ProcessEntry, AHostsWindowRunsTheSaverInItAndOnlyThen) {
    const struct {
        std::vector<std::string> args;
        const char* variable; // XSCREENSAVER_WINDOW
        const char* line;     // null: ends with 1 before WinMain
    } cases[] = {{{"p", "--window-id", "0x2a"}, nullptr, "/s"},
                 {{"p", "-window-id", "42"}, "7", "/s"},
                 {{"p", "--root", "--window-id=0X2A"}, nullptr, "/s"},
                 {{"p", "--root"}, "0x400007", "/s"},
                 {{"p"}, "12", "/s"},
                 {{"p", "--root"}, nullptr, "--root"},
                 {{"p", "/p", "1234"}, "0x400007", "/p 1234"},
                 {{"p", "/c"}, "0x400007", "/c"},
                 {{"p", "--window-id"}, nullptr, nullptr},
                 {{"p", "--window-id", "0"}, nullptr, nullptr},
                 {{"p", "--window-id", "-5"}, nullptr, nullptr},
                 {{"p", "--root"}, "0x40zz", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back() + " " + (c.variable ? c.variable : "-"));
        if (c.variable)
            setenv("XSCREENSAVER_WINDOW", c.variable, 1);
        else
            unsetenv("XSCREENSAVER_WINDOW");
        g_commandLine = "(not called)";
        EXPECT_EQ(Enter(c.args), c.line ? 42 : 1);
        EXPECT_EQ(g_commandLine, c.line ? c.line : "(not called)");
    }
    unsetenv("XSCREENSAVER_WINDOW");
}

} // namespace
