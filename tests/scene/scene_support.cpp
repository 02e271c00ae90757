#include "scene_support.h"

#include <dxtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

void SceneTest::SetUp() {
    char pattern[] = "/tmp/plumora-scene-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    mkdir((dir + "/plumora").c_str(), 0700);
    SceneRelease();
    *MotionGetState() = {1, 1, 1};
    LayerTest::SetUp();
}

void SceneTest::TearDown() {
    SceneRelease();
    LayerTest::TearDown();
    std::filesystem::remove_all(dir);
}

void SceneTest::WriteSettings(const std::string& text) {
    WriteFile("plumora/Mirel.ini", text);
}

std::string SceneTest::WriteFile(const std::string& name, const std::string& content) {
    std::string path = dir + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out << content;
    return path;
}

std::string BoxModel(double w, double h, double d, double at) {
    std::string text = "xof 0302txt 0032\nMesh box {\n 8;\n";
    for (int i = 0; i < 8; ++i) // corner i has bit 0 for x, bit 1 for y, bit 2 for z
        text += std::to_string(at + (i & 1 ? w : -w) / 2) + ";" +
                std::to_string((i & 2 ? h : -h) / 2) + ";" + std::to_string((i & 4 ? d : -d) / 2) +
                (i < 7 ? ";,\n" : ";;\n");
    // Fronts outside: clockwise seen from there.
    return text +
           " 6;\n 4;0,2,3,1;, 4;4,5,7,6;, 4;0,1,5,4;, 4;2,6,7,3;, 4;0,4,6,2;, 4;1,3,7,5;;\n}\n";
}

long LitPixels(LPDIRECTDRAWSURFACE surface) {
    DDSURFACEDESC desc = {};
    desc.dwSize = sizeof desc;
    if (surface->Lock(nullptr, &desc, DDLOCK_WAIT | DDLOCK_READONLY, nullptr) != DD_OK) return 0;
    EXPECT_EQ(desc.ddpfPixelFormat.dwRGBBitCount, 32u); // the fixture's display
    long lit = 0;
    for (DWORD y = 0; y < desc.dwHeight; ++y) {
        const uint8_t* row = static_cast<const uint8_t*>(desc.lpSurface) + y * desc.lPitch;
        for (DWORD x = 0; x < desc.dwWidth; ++x) {
            uint32_t pixel;
            memcpy(&pixel, row + 4 * x, 4);
            lit += (pixel & 0xFFFFFF) != 0;
        }
    }
    surface->Unlock(desc.lpSurface);
    return lit;
}
