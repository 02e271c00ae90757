// The process entry: argv becomes the command-line text, WinMain's result the
// exit code.
#include <windows.h>

#include <gtest/gtest.h>

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

TEST(ProcessEntry, ArgumentsAfterTheNameAreJoinedWithSingleBlanks) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"Plumora.scr", "/p", "1234"}, "/p 1234"},
        {{"Plumora.scr"}, ""},
        {{"Plumora.scr", "/c /s"}, "/c /s"},
        {{"Plumora.scr", "", "-S"}, " -S"}};
    for (auto [args, line] : cases) {
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(EntryUnderTest(int(args.size()), argv.data()), 42);
        EXPECT_EQ(g_commandLine, line);
        EXPECT_TRUE(g_argumentsAsExpected);
    }
}

} // namespace
