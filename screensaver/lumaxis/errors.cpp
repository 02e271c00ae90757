// Result codes turned into their SDK names, and the two-line error reports.
#include "lumaxis.h"

#include <cstdint>
#include <cstdio>

namespace {

struct ErrorName {
    uint32_t code;
    const char* name;
};

const char kUnknownError[] = "Unknown Error";

const ErrorName kDDErrors[] = {
    // Standard COM codes that DirectDraw returns under its own names.
    {0x80004001U, "DDERR_UNSUPPORTED"},
    {0x80004005U, "DDERR_GENERIC"},
    {0x800401F0U, "DDERR_NOTINITIALIZED"},
    {0x8007000EU, "DDERR_OUTOFMEMORY"},
    {0x80070057U, "DDERR_INVALIDPARAMS"},
    {0x88760005U, "DDERR_ALREADYINITIALIZED"},
    {0x8876000AU, "DDERR_CANNOTATTACHSURFACE"},
    {0x88760014U, "DDERR_CANNOTDETACHSURFACE"},
    {0x88760028U, "DDERR_CURRENTLYNOTAVAIL"},
    {0x88760037U, "DDERR_EXCEPTION"},
    {0x8876005AU, "DDERR_HEIGHTALIGN"},
    {0x8876005FU, "DDERR_INCOMPATIBLEPRIMARY"},
    {0x88760064U, "DDERR_INVALIDCAPS"},
    {0x8876006EU, "DDERR_INVALIDCLIPLIST"},
    {0x88760078U, "DDERR_INVALIDMODE"},
    {0x88760082U, "DDERR_INVALIDOBJECT"},
    {0x88760091U, "DDERR_INVALIDPIXELFORMAT"},
    {0x88760096U, "DDERR_INVALIDRECT"},
    {0x887600A0U, "DDERR_LOCKEDSURFACES"},
    {0x887600AAU, "DDERR_NO3D"},
    {0x887600B4U, "DDERR_NOALPHAHW"},
    {0x887600CDU, "DDERR_NOCLIPLIST"},
    {0x887600D2U, "DDERR_NOCOLORCONVHW"},
    {0x887600D4U, "DDERR_NOCOOPERATIVELEVELSET"},
    {0x887600D7U, "DDERR_NOCOLORKEY"},
    {0x887600DCU, "DDERR_NOCOLORKEYHW"},
    {0x887600DEU, "DDERR_NODIRECTDRAWSUPPORT"},
    {0x887600E1U, "DDERR_NOEXCLUSIVEMODE"},
    {0x887600E6U, "DDERR_NOFLIPHW"},
    {0x887600F0U, "DDERR_NOGDI"},
    {0x887600FAU, "DDERR_NOMIRRORHW"},
    {0x887600FFU, "DDERR_NOTFOUND"},
    {0x88760104U, "DDERR_NOOVERLAYHW"},
    {0x88760118U, "DDERR_NORASTEROPHW"},
    {0x88760122U, "DDERR_NOROTATIONHW"},
    {0x88760136U, "DDERR_NOSTRETCHHW"},
    {0x8876013CU, "DDERR_NOT4BITCOLOR"},
    {0x8876013DU, "DDERR_NOT4BITCOLORINDEX"},
    {0x88760140U, "DDERR_NOT8BITCOLOR"},
    {0x8876014AU, "DDERR_NOTEXTUREHW"},
    {0x8876014FU, "DDERR_NOVSYNCHW"},
    {0x88760154U, "DDERR_NOZBUFFERHW"},
    {0x8876015EU, "DDERR_NOZOVERLAYHW"},
    {0x88760168U, "DDERR_OUTOFCAPS"},
    {0x8876017CU, "DDERR_OUTOFVIDEOMEMORY"},
    {0x8876017EU, "DDERR_OVERLAYCANTCLIP"},
    {0x88760180U, "DDERR_OVERLAYCOLORKEYONLYONEACTIVE"},
    {0x88760183U, "DDERR_PALETTEBUSY"},
    {0x88760190U, "DDERR_COLORKEYNOTSET"},
    {0x8876019AU, "DDERR_SURFACEALREADYATTACHED"},
    {0x887601A4U, "DDERR_SURFACEALREADYDEPENDENT"},
    {0x887601AEU, "DDERR_SURFACEBUSY"},
    {0x887601B3U, "DDERR_CANTLOCKSURFACE"},
    {0x887601B8U, "DDERR_SURFACEISOBSCURED"},
    {0x887601C2U, "DDERR_SURFACELOST"},
    {0x887601CCU, "DDERR_SURFACENOTATTACHED"},
    {0x887601D6U, "DDERR_TOOBIGHEIGHT"},
    {0x887601E0U, "DDERR_TOOBIGSIZE"},
    {0x887601EAU, "DDERR_TOOBIGWIDTH"},
    {0x887601FEU, "DDERR_UNSUPPORTEDFORMAT"},
    {0x88760208U, "DDERR_UNSUPPORTEDMASK"},
    {0x88760219U, "DDERR_VERTICALBLANKINPROGRESS"},
    {0x8876021CU, "DDERR_WASSTILLDRAWING"},
    {0x88760230U, "DDERR_XALIGN"},
    {0x88760231U, "DDERR_INVALIDDIRECTDRAWGUID"},
    {0x88760232U, "DDERR_DIRECTDRAWALREADYCREATED"},
    {0x88760233U, "DDERR_NODIRECTDRAWHW"},
    {0x88760234U, "DDERR_PRIMARYSURFACEALREADYEXISTS"},
    {0x88760235U, "DDERR_NOEMULATION"},
    {0x88760236U, "DDERR_REGIONTOOSMALL"},
    {0x88760237U, "DDERR_CLIPPERISUSINGHWND"},
    {0x88760238U, "DDERR_NOCLIPPERATTACHED"},
    {0x88760239U, "DDERR_NOHWND"},
    {0x8876023AU, "DDERR_HWNDSUBCLASSED"},
    {0x8876023BU, "DDERR_HWNDALREADYSET"},
    {0x8876023CU, "DDERR_NOPALETTEATTACHED"},
    {0x8876023DU, "DDERR_NOPALETTEHW"},
    {0x8876023EU, "DDERR_BLTFASTCANTCLIP"},
    {0x8876023FU, "DDERR_NOBLTHW"},
    {0x88760240U, "DDERR_NODDROPSHW"},
    {0x88760241U, "DDERR_OVERLAYNOTVISIBLE"},
    {0x88760242U, "DDERR_NOOVERLAYDEST"},
    {0x88760243U, "DDERR_INVALIDPOSITION"},
    {0x88760244U, "DDERR_NOTAOVERLAYSURFACE"},
    {0x88760245U, "DDERR_EXCLUSIVEMODEALREADYSET"},
    {0x88760246U, "DDERR_NOTFLIPPABLE"},
    {0x88760247U, "DDERR_CANTDUPLICATE"},
    {0x88760248U, "DDERR_NOTLOCKED"},
    {0x88760249U, "DDERR_CANTCREATEDC"},
    {0x8876024AU, "DDERR_NODC"},
    {0x8876024BU, "DDERR_WRONGMODE"},
    {0x8876024CU, "DDERR_IMPLICITLYCREATED"},
    {0x8876024DU, "DDERR_NOTPALETTIZED"},
    {0x8876024EU, "DDERR_UNSUPPORTEDMODE"},
    {0x8876024FU, "DDERR_NOMIPMAPHW"},
    {0x88760250U, "DDERR_INVALIDSURFACETYPE"},
    {0x8876026CU, "DDERR_DCALREADYCREATED"},
    {0x88760280U, "DDERR_CANTPAGELOCK"},
    {0x88760294U, "DDERR_CANTPAGEUNLOCK"},
    {0x887602A8U, "DDERR_NOTPAGELOCKED"},
};

const ErrorName kRMErrors[] = {
    {0x8876030DU, "D3DRMERR_BADOBJECT"},       {0x8876030EU, "D3DRMERR_BADTYPE"},
    {0x8876030FU, "D3DRMERR_BADALLOC"},        {0x88760310U, "D3DRMERR_FACEUSED"},
    {0x88760311U, "D3DRMERR_NOTFOUND"},        {0x88760312U, "D3DRMERR_NOTDONEYET"},
    {0x88760313U, "D3DRMERR_FILENOTFOUND"},    {0x88760314U, "D3DRMERR_BADFILE"},
    {0x88760315U, "D3DRMERR_BADDEVICE"},       {0x88760316U, "D3DRMERR_BADVALUE"},
    {0x88760317U, "D3DRMERR_BADMAJORVERSION"}, {0x88760318U, "D3DRMERR_BADMINORVERSION"},
    {0x88760319U, "D3DRMERR_UNABLETOEXECUTE"},
};

template <size_t N> const char* LookUp(const ErrorName (&table)[N], HRESULT code) {
    for (const ErrorName& entry : table)
        if (entry.code == static_cast<uint32_t>(code)) return entry.name;
    return kUnknownError;
}

// Both reporters differ only in table and wording. snprintf bounds every
// buffer, so an overlong path is cut rather than overrunning anything.
void Report(const char* format, const char* name, const char* path, int line) {
    char nameBuffer[256];
    char message[1024];
    snprintf(nameBuffer, sizeof nameBuffer, "%s", name);
    snprintf(message, sizeof message, format, nameBuffer, path ? path : "", line);
    LMXDebugPrint(message);
}

} // namespace

static_assert(sizeof kDDErrors / sizeof kDDErrors[0] == 100, "DirectDraw table has 100 names");
static_assert(sizeof kRMErrors / sizeof kRMErrors[0] == 13, "Retained Mode table has 13 names");

const char* LMXDDErrorName(HRESULT code) {
    return LookUp(kDDErrors, code);
}

const char* LMXRMErrorName(HRESULT code) {
    return LookUp(kRMErrors, code);
}

void LMXDebugPrint(const char* text) {
    LumaxisState* state = LMXGetState();
    snprintf(state->debugLine, sizeof state->debugLine, "%s\n", text ? text : "");
    OutputDebugStringA(state->debugLine);
}

void LMXReportDDError(HRESULT code, const char* path, int line) {
    Report("DirectDraw Error %s\nin file %s at line %d", LMXDDErrorName(code), path, line);
}

void LMXReportRMError(HRESULT code, const char* path, int line) {
    Report("Direct3D-RM Error : %s\nin file %s at line %d", LMXRMErrorName(code), path, line);
}

int LMXCheckDD(HRESULT result, const char* path, int line) {
    if (result == DD_OK) return 1;
    LMXReportDDError(result, path, line);
    LumaxisCleanup();
    return 0;
}

int LMXCheckRM(HRESULT result, const char* path, int line) {
    if (result == D3DRM_OK) return 1;
    LMXReportRMError(result, path, line);
    LumaxisCleanup();
    return 0;
}
