// Result-code names and the report format.
#include "lmx_support.h"

#include <set>
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
        {false, (HRESULT)0x887601C2, "DirectDraw Error DDERR_SURFACELOST"},
        // Each reporter knows only its own family.
        {false, E_FAIL, "DirectDraw Error DDERR_GENERIC"},
        {true, E_FAIL, "Direct3D-RM Error : Unknown Error"},
        {true, (HRESULT)0x88760313, "Direct3D-RM Error : D3DRMERR_FILENOTFOUND"},
        // Just outside the retained-mode range.
        {true, (HRESULT)0x8876030C, "Direct3D-RM Error : Unknown Error"},
        {true, (HRESULT)0x8876031A, "Direct3D-RM Error : Unknown Error"},
        {true, DDERR_SURFACELOST, "Direct3D-RM Error : Unknown Error"},
        {false, D3DRMERR_BADFILE, "DirectDraw Error Unknown Error"},
        {false, (HRESULT)0x887602A9, "DirectDraw Error Unknown Error"},
        {false, DD_OK, "DirectDraw Error Unknown Error"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Reported(c.rm, c.code, "src/a.cpp", 12),
                  std::string(c.heading) + "\nin file src/a.cpp at line 12\n")
            << std::hex << c.code;
}

TEST(ErrorReport, TablesCoverTheWholeFamilies) {
    // Every DirectDraw-facility code up to the last one: exactly 95 names, all distinct.
    std::set<std::string> names;
    for (uint32_t n = 0; n <= 0x2A8; ++n)
        names.insert(LMXDDErrorName(MAKE_DDHRESULT(n)));
    names.erase("Unknown Error");
    EXPECT_EQ(names.size(), 95u);
    EXPECT_STREQ(LMXDDErrorName((HRESULT)0x887602A8), "DDERR_NOTPAGELOCKED");
    EXPECT_STREQ(LMXDDErrorName((HRESULT)0x88760180), "DDERR_OVERLAYCOLORKEYONLYONEACTIVE");

    std::set<std::string> rm;
    for (uint32_t n = 0x30C; n <= 0x31A; ++n)
        rm.insert(LMXRMErrorName((HRESULT)(0x88760000u | n)));
    rm.erase("Unknown Error");
    EXPECT_EQ(rm.size(), 13u);
    for (const std::string& name : rm)
        EXPECT_EQ(name.rfind("D3DRMERR_", 0), 0u) << name;
    EXPECT_STREQ(LMXRMErrorName(D3DRMERR_UNABLETOEXECUTE), "D3DRMERR_UNABLETOEXECUTE");
}

TEST(DebugPrint, OneNewlineAndBoundedBuffers) {
    // The message holds at most 1023 characters, the line adds its newline.
    EXPECT_EQ(Reported(false, DDERR_GENERIC, std::string(5000, 'p').c_str(), 99),
              "DirectDraw Error DDERR_GENERIC\nin file " + std::string(1024 - 40, 'p') + "\n");

    DebugCapture debug;
    LMXDebugPrint("");
    LMXDebugPrint("phase 3");
    EXPECT_EQ(debug.Text(), "\nphase 3\n");
    EXPECT_STREQ(LMXGetState()->debugLine, "phase 3\n");
    debug.Clear();
    LMXDebugPrint(std::string(3000, 't').c_str());
    EXPECT_EQ(debug.Text(), std::string(2047, 't'));
}

} // namespace
