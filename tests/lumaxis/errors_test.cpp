// Result-code names and the report format.
#include "lmx_support.h"

#include <string>

namespace {

std::string Reported(bool rm, HRESULT code, const char* path, int line) {
    DebugCapture debug;
    (rm ? LMXReportRMError : LMXReportDDError)(code, path, line);
    return debug.Text();
}

TEST(ErrorReport, NamesAndLineFormat) {
    const struct {
        bool rm;
        HRESULT code;
        const char* heading;
    } cases[] = {
        {false, (HRESULT)0x887602A8, "DirectDraw Error DDERR_NOTPAGELOCKED"},
        {true, (HRESULT)0x8876030D, "Direct3D-RM Error : D3DRMERR_BADOBJECT"},
        {true, (HRESULT)0x88760319, "Direct3D-RM Error : D3DRMERR_UNABLETOEXECUTE"},
        // Just outside the retained-mode range.
        {true, (HRESULT)0x8876030C, "Direct3D-RM Error : Unknown Error"},
        {true, (HRESULT)0x8876031A, "Direct3D-RM Error : Unknown Error"},
        // Each reporter knows only its own family, and no code past its last one.
        {false, D3DRMERR_BADFILE, "DirectDraw Error Unknown Error"},
        {false, (HRESULT)0x887602A9, "DirectDraw Error Unknown Error"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Reported(c.rm, c.code, "src/a.cpp", 12),
                  std::string(c.heading) + "\nin file src/a.cpp at line 12\n")
            << std::hex << c.code;
}

TEST(DebugPrint, OneNewlineAndBoundedBuffers) {
    // The message holds at most 1023 characters, the line adds its newline.
    EXPECT_EQ(Reported(false, DDERR_GENERIC, std::string(5000, 'p').c_str(), 99),
              "DirectDraw Error DDERR_GENERIC\nin file " + std::string(1024 - 40, 'p') + "\n");

    DebugCapture debug;
    LMXDebugPrint("");
    LMXDebugPrint("phase 3");
    LMXDebugPrint(std::string(3000, 't').c_str());
    EXPECT_EQ(debug.Text(), "\nphase 3\n" + std::string(2047, 't'));
}

} // namespace
