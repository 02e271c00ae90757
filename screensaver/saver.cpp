// The saver's entry: single-instance guard, mode switches, the full-screen
// window and its procedure, graphics start and the frame loop.
#include "plumora.h"
#include "lumaxis/lumaxis.h"

#include <cstdlib>

HWND g_hSaverWnd = nullptr;

namespace {

HANDLE g_hMutex = nullptr;

const char kSaverName[] = "Tessival";
const int kSaverIcon = 1; // the program's one icon resource

} // namespace

LRESULT CALLBACK SaverWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        LumaxisCleanup();
        PostQuitMessage(0);
        ShowCursor(TRUE);
        return 0;
    case WM_NCMOUSEMOVE:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        DestroyWindow(hwnd);
        return 0;
    case WM_SYSCOMMAND:
        // Only the plain keyboard-menu command: the whole value is compared.
        if (wParam == SC_KEYMENU) return 0;
        break;
    default:
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

int RegisterSaverClass(HINSTANCE instance) {
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = SaverWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 4;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kSaverIcon));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = kSaverName;
    return RegisterClassA(&wc) != 0;
}

int CreateSaverWindow(HINSTANCE instance, int showCommand) {
    HWND hwnd =
        CreateWindowExA(0, kSaverName, kSaverName, WS_POPUP, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                        GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 0;
    g_hSaverWnd = hwnd;
    ShowWindow(hwnd, showCommand);
    UpdateWindow(hwnd);
    ShowCursor(FALSE);
    return 1;
}

int StartGraphics(void) {
    LumaxisInitialize();
    if (!CreateDirectDrawWin(g_hSaverWnd)) {
        OutputDebugStringA("LMX:DDCreateError ");
        std::exit(1);
    }
    if (!CreateDirect3DRM()) {
        OutputDebugStringA("LMX:CreateDirect3DRM Error!!!! ");
        std::exit(1);
    }
    return 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    // The guard comes before anything else, so a second copy neither runs nor
    // opens the settings program.
    SetLastError(ERROR_SUCCESS);
    g_hMutex = CreateMutexA(nullptr, TRUE, kSaverName);
    if (!g_hMutex || GetLastError() == ERROR_ALREADY_EXISTS) return 1;

    if (!commandLine || !*commandLine) {
        ReleaseMutex(g_hMutex);
        return 1;
    }

    bool configure = false;
    bool saver = false;
    for (const char* p = commandLine; *p; ++p) {
        if (*p != '-' && *p != '/') continue;
        char letter = p[1];
        if (letter == 'C' || letter == 'c') {
            configure = true;
            ++p;
        } else if (letter == 'S' || letter == 's') {
            saver = true;
            ++p;
        }
    }

    if (configure) {
        ShellExecuteA(GetActiveWindow(), "open", "Quenset.exe", nullptr, "c:\\windows", SW_SHOW);
        ReleaseMutex(g_hMutex);
        return 1;
    }
    if (!saver) {
        ReleaseMutex(g_hMutex);
        return 1;
    }

    if (!RegisterSaverClass(instance)) {
        ReleaseMutex(g_hMutex);
        return 1;
    }
    if (!CreateSaverWindow(instance, showCommand)) {
        ReleaseMutex(g_hMutex);
        return 1;
    }
    StartGraphics();
    if (!BuildScene()) return 1;

    MSG msg;
    for (;;) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return 0;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        StepMotion();
        RenderFrame();
        // Once the device layer is torn down nothing is drawn any more; waiting
        // for the next message instead of looping keeps an idle saver from
        // using a whole processor until the user comes back.
        if (!LMXIsRunning()) WaitMessage();
    }
}
