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
int Note(const char* name, int result) {
    if (!Fake().calls.empty()) Fake().calls += ' ';
    Fake().calls += name;
    return result;
}
} // namespace

int LumaxisInitialize(void) {
    return Note("LumaxisInitialize", 1);
}

int CreateDirectDrawWin(HWND) {
    return Note("CreateDirectDrawWin", Fake().ddResult);
}

int CreateDirect3DRM(void) {
    return Note("CreateDirect3DRM", Fake().rmResult);
}

int LumaxisCleanup(void) {
    Fake().running = false;
    return Note("LumaxisCleanup", 1);
}

int LMXIsRunning(void) {
    return Fake().running ? 1 : 0;
}

int BuildScene(void) {
    return Note("BuildScene", Fake().sceneResult);
}

int StepMotion(void) {
    if (Fake().onStep) Fake().onStep(Fake().frames + 1);
    return 1;
}

int RenderFrame(void) {
    ++Fake().frames;
    Fake().framesWhileIdle += !Fake().running;
    return 1;
}
