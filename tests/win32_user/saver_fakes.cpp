#include "saver_fakes.h"

#include "plumora.h"
#include "lumaxis/lumaxis.h"

FakeDevice& Fake() {
    static FakeDevice fake;
    return fake;
}

void ResetFake() {
    Fake() = FakeDevice{};
}

namespace {
void Note(const char* name) {
    if (!Fake().calls.empty()) Fake().calls += ' ';
    Fake().calls += name;
}
} // namespace

int LumaxisInitialize(void) {
    Note("LumaxisInitialize");
    return 1;
}

int CreateDirectDrawWin(HWND hwnd) {
    Note("CreateDirectDrawWin");
    Fake().ddWindow = hwnd;
    return Fake().ddResult;
}

int CreateDirect3DRM(void) {
    Note("CreateDirect3DRM");
    return Fake().rmResult;
}

int LumaxisCleanup(void) {
    Note("LumaxisCleanup");
    ++Fake().cleanups;
    Fake().running = false;
    return 1;
}

int LMXIsRunning(void) {
    return Fake().running ? 1 : 0;
}

int BuildScene(void) {
    Note("BuildScene");
    return Fake().sceneResult;
}

int StepMotion(void) {
    if (Fake().onStep) Fake().onStep(Fake().frames + 1);
    return 1;
}

int RenderFrame(void) {
    ++Fake().frames;
    if (!Fake().running) ++Fake().framesWhileIdle;
    return 1;
}
