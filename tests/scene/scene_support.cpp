#include "scene_support.h"

#include <dxtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

bool operator==(const MotionState& a, const MotionState& b) {
    return a.dirX == b.dirX && a.dirY == b.dirY && a.dirZ == b.dirZ;
}

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
    if (rm) rm->Release();
    rm = nullptr;
    LayerTest::TearDown();
    std::string command = "rm -rf '" + dir + "'";
    if (system(command.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir;
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

bool SceneTest::BuildRetainedMode() {
    LPDIRECT3DRM first = nullptr;
    if (Direct3DRMCreate(&first) != D3DRM_OK) return false;
    HRESULT result = first->QueryInterface(IID_IDirect3DRM2, (LPVOID*)&rm);
    first->Release();
    return result == D3DRM_OK;
}

std::string BoxModel(double w, double h, double d, double at) {
    double x = w / 2, y = h / 2, z = d / 2;
    char text[2048];
    snprintf(text, sizeof text,
             "xof 0302txt 0032\n"
             "Mesh box {\n 8;\n"
             " %f;%f;%f;, %f;%f;%f;, %f;%f;%f;, %f;%f;%f;,\n"
             " %f;%f;%f;, %f;%f;%f;, %f;%f;%f;, %f;%f;%f;;\n"
             " 6;\n"
             " 4;0,1,2,3;, 4;7,6,5,4;, 4;0,4,5,1;, 4;1,5,6,2;, 4;2,6,7,3;, 4;3,7,4,0;;\n"
             "}\n",
             at - x, -y, -z, at - x, y, -z, at + x, y, -z, at + x, -y, -z, //
             at - x, -y, z, at - x, y, z, at + x, y, z, at + x, -y, z);
    return text;
}

PixelStats ReadPixels(LPDIRECTDRAWSURFACE surface) {
    PixelStats stats;
    DDSURFACEDESC desc = {};
    desc.dwSize = sizeof desc;
    if (surface->Lock(nullptr, &desc, DDLOCK_WAIT | DDLOCK_READONLY, nullptr) != DD_OK)
        return stats;
    // The fixture's display is 32-bit 0x00RRGGBB.
    EXPECT_EQ(desc.ddpfPixelFormat.dwRBitMask, 0xFF0000u);
    for (DWORD y = 0; y < desc.dwHeight; ++y) {
        const uint8_t* row = static_cast<const uint8_t*>(desc.lpSurface) + y * desc.lPitch;
        for (DWORD x = 0; x < desc.dwWidth; ++x) {
            uint32_t pixel;
            memcpy(&pixel, row + 4 * x, 4);
            if (!(pixel & 0xFFFFFF)) continue;
            ++stats.lit;
            stats.r += pixel >> 16 & 0xFF;
            stats.g += pixel >> 8 & 0xFF;
            stats.b += pixel & 0xFF;
        }
    }
    surface->Unlock(desc.lpSurface);
    if (stats.lit) {
        stats.r /= stats.lit;
        stats.g /= stats.lit;
        stats.b /= stats.lit;
    }
    return stats;
}
