// The process entry: argv becomes the command-line text, WinMain's result the
// exit code.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

int EntryUnderTest(int argc, char** argv);

namespace {

std::string g_commandLine;
HINSTANCE g_instance;
HINSTANCE g_previous;
int g_show;

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
    g_instance = instance;
    g_previous = previous;
    g_commandLine = commandLine;
    g_show = showCommand;
    return 42;
}

namespace {

int CallEntry(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return EntryUnderTest(int(args.size()), argv.data());
}

TEST(ProcessEntry, ArgumentsAfterTheNameAreJoinedWithSingleBlanks) {
    EXPECT_EQ(CallEntry({"Plumora.scr", "/p", "1234"}), 42);
    EXPECT_EQ(g_commandLine, "/p 1234");
    EXPECT_NE(g_instance, nullptr);
    EXPECT_EQ(g_previous, nullptr);
    EXPECT_EQ(g_show, SW_SHOWDEFAULT);

    CallEntry({"Plumora.scr"});
    EXPECT_EQ(g_commandLine, "");
    CallEntry({"Plumora.scr", "/c /s"});
    EXPECT_EQ(g_commandLine, "/c /s");
    CallEntry({"Plumora.scr", "", "-S"});
    EXPECT_EQ(g_commandLine, " -S");
}

} // namespace
