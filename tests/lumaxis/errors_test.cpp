// Result-code names and the report format.
#include "lmx_support.h"

#include <set>
#include <string>

namespace {

std::string DDReport(HRESULT code, const char* path, int line) {
    DebugCapture debug;
    LMXReportDDError(code, path, line);
    return debug.Text();
}

std::string RMReport(HRESULT code, const char* path, int line) {
    DebugCapture debug;
    LMXReportRMError(code, path, line);
    return debug.Text();
}

TEST(ErrorReport, LostSurfaceIsNamedWithItsLocation) {
    EXPECT_EQ(DDReport((HRESULT)0x887601C2, "src/lumaxis.cpp", 12),
              "DirectDraw Error DDERR_SURFACELOST\nin file src/lumaxis.cpp at line 12\n");
}

TEST(ErrorReport, EachReporterKnowsOnlyItsOwnFamily) {
    EXPECT_EQ(DDReport(E_FAIL, "a.cpp", 1),
              "DirectDraw Error DDERR_GENERIC\nin file a.cpp at line 1\n");
    EXPECT_EQ(RMReport(E_FAIL, "a.cpp", 1),
              "Direct3D-RM Error : Unknown Error\nin file a.cpp at line 1\n");
    EXPECT_EQ(RMReport((HRESULT)0x88760313, "b.cpp", 7),
              "Direct3D-RM Error : D3DRMERR_FILENOTFOUND\nin file b.cpp at line 7\n");
    // A lost surface reported by a retained-mode call has no retained-mode name.
    EXPECT_STREQ(LMXRMErrorName(DDERR_SURFACELOST), "Unknown Error");
    EXPECT_STREQ(LMXDDErrorName(D3DRMERR_BADFILE), "Unknown Error");
}

TEST(ErrorReport, CodesJustOutsideTheRetainedModeRangeAreUnknown) {
    EXPECT_STREQ(LMXRMErrorName((HRESULT)0x8876030C), "Unknown Error");
    EXPECT_STREQ(LMXRMErrorName((HRESULT)0x8876031A), "Unknown Error");
    EXPECT_STREQ(LMXRMErrorName(D3DRM_OK), "Unknown Error");
    EXPECT_STREQ(LMXDDErrorName(DD_OK), "Unknown Error");
    EXPECT_STREQ(LMXDDErrorName((HRESULT)0x887602A9), "Unknown Error");
}

TEST(ErrorReport, TablesCoverTheWholeFamilies) {
    // The header's codes and a sample across the DirectDraw table.
    EXPECT_STREQ(LMXDDErrorName(DDERR_UNSUPPORTED), "DDERR_UNSUPPORTED");
    EXPECT_STREQ(LMXDDErrorName(DDERR_NOTINITIALIZED), "DDERR_NOTINITIALIZED");
    EXPECT_STREQ(LMXDDErrorName(DDERR_OUTOFMEMORY), "DDERR_OUTOFMEMORY");
    EXPECT_STREQ(LMXDDErrorName(DDERR_INVALIDPARAMS), "DDERR_INVALIDPARAMS");
    EXPECT_STREQ(LMXDDErrorName(DDERR_ALREADYINITIALIZED), "DDERR_ALREADYINITIALIZED");
    EXPECT_STREQ(LMXDDErrorName(DDERR_NOCOOPERATIVELEVELSET), "DDERR_NOCOOPERATIVELEVELSET");
    EXPECT_STREQ(LMXDDErrorName(DDERR_HWNDALREADYSET), "DDERR_HWNDALREADYSET");
    EXPECT_STREQ(LMXDDErrorName(DDERR_NOTPALETTIZED), "DDERR_NOTPALETTIZED");
    EXPECT_STREQ(LMXDDErrorName(MAKE_DDHRESULT(588)), "DDERR_IMPLICITLYCREATED");
    EXPECT_STREQ(LMXDDErrorName((HRESULT)0x8876026C), "DDERR_DCALREADYCREATED");
    EXPECT_STREQ(LMXDDErrorName((HRESULT)0x887602A8), "DDERR_NOTPAGELOCKED");
    EXPECT_STREQ(LMXDDErrorName((HRESULT)0x88760180), "DDERR_OVERLAYCOLORKEYONLYONEACTIVE");

    // Every DirectDraw-facility code up to the last one: exactly 95 names, all distinct.
    std::set<std::string> names;
    for (uint32_t n = 0; n <= 0x2A8; ++n) {
        const char* name = LMXDDErrorName(MAKE_DDHRESULT(n));
        if (std::string(name) != "Unknown Error") names.insert(name);
    }
    EXPECT_EQ(names.size(), 95u);

    const HRESULT rm[] = {
        D3DRMERR_BADOBJECT,      D3DRMERR_BADTYPE,         D3DRMERR_BADALLOC,
        D3DRMERR_FACEUSED,       D3DRMERR_NOTFOUND,        D3DRMERR_NOTDONEYET,
        D3DRMERR_FILENOTFOUND,   D3DRMERR_BADFILE,         D3DRMERR_BADDEVICE,
        D3DRMERR_BADVALUE,       D3DRMERR_BADMAJORVERSION, D3DRMERR_BADMINORVERSION,
        D3DRMERR_UNABLETOEXECUTE};
    std::set<std::string> rmNames;
    for (HRESULT code : rm) {
        std::string name = LMXRMErrorName(code);
        EXPECT_EQ(name.rfind("D3DRMERR_", 0), 0u) << std::hex << code;
        rmNames.insert(name);
    }
    EXPECT_EQ(rmNames.size(), 13u);
    EXPECT_STREQ(LMXRMErrorName(D3DRMERR_UNABLETOEXECUTE), "D3DRMERR_UNABLETOEXECUTE");
}

TEST(DebugPrint, AddsOneNewline) {
    DebugCapture debug;
    LMXDebugPrint("");
    EXPECT_EQ(debug.Text(), "\n");
    debug.Clear();
    LMXDebugPrint("phase 3");
    EXPECT_EQ(debug.Text(), "phase 3\n");
    EXPECT_STREQ(LMXGetState()->debugLine, "phase 3\n");
}

TEST(DebugPrint, OverlongPathIsCutToTheBuffers) {
    std::string path(5000, 'p');
    std::string text = DDReport(DDERR_GENERIC, path.c_str(), 99);
    // The message holds at most 1023 characters, the line adds its newline.
    EXPECT_EQ(text.size(), 1024u);
    EXPECT_EQ(text.rfind("DirectDraw Error DDERR_GENERIC\nin file ppp", 0), 0u);
    EXPECT_EQ(text.back(), '\n');

    std::string long_text(3000, 't');
    DebugCapture debug;
    LMXDebugPrint(long_text.c_str());
    EXPECT_EQ(debug.Text().size(), 2047u);
    EXPECT_EQ(debug.Text(), std::string(2047, 't'));
}

} // namespace
