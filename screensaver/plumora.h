// The saver's main module: entry and window, scene, motion step and render pass.
#pragma once

#include <windows.h>

// Entry and window.
extern HWND g_hSaverWnd;
LRESULT CALLBACK SaverWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
int RegisterSaverClass(HINSTANCE instance);
int CreateSaverWindow(HINSTANCE instance, int showCommand);
int StartGraphics(void);

// Scene, motion and render pass.
int BuildScene(void);
int StepMotion(void);
int RenderFrame(void);
