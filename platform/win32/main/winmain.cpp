// Process entry: hands the command line to the program's WinMain the way the
// platform does, as one text after the program's name.
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
    // The platform skips the blanks after the program's name; joining the
    // arguments with single blanks gives the same text for what a host passes.
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    // The program image's handle: a token, never dereferenced.
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(uintptr_t(0x400000));
    return WinMain(instance, nullptr, text.data(), SW_SHOWDEFAULT);
}
