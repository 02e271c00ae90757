// Recording stand-ins for the device layer, scene, motion step and render pass,
// so the saver's entry and loop can be driven without graphics.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

struct FakeDevice {
    std::string calls; // names of the calls, blank-separated, in order
    int ddResult = 1, rmResult = 1, sceneResult = 1;
    bool running = true;
    int frames = 0;                        // RenderFrame calls
    int framesWhileIdle = 0;               // RenderFrame calls while not running
    std::function<void(int frame)> onStep; // called by StepMotion with the frame number
};

FakeDevice& Fake();
void ResetFake();
