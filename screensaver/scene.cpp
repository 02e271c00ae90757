// Scene construction: settings, frames, camera and viewport, lights, and the
// user's model scaled to a fixed size, coloured and set spinning.
#include "plumora.h"
#include "scene.h"

#include <settings_keys.h>

#include <cmath>
#include <cstring>

namespace {

SceneState g_scene;

const double kPi = 3.14159265359;
const double kModelExtent = 3.0;    // the larger of width and height, in scene units
const double kCentred = 1.0 / 1024; // of the model's size: an offset within it is no offset

// Degrees per frame to radians per time unit, passed on as a float.
D3DVALUE SpinRate(double degrees) {
    return static_cast<D3DVALUE>(degrees * kPi / 180.0);
}

template <typename T> void ReleaseLocal(T*& object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}

int ReadInt(const char* section, const char* key, int fallback) {
    return static_cast<int>(GetPrivateProfileIntA(section, key, fallback, SETTINGS_FILE));
}

void AddAmbientLight(LPDIRECT3DRM2 rm, LPDIRECT3DRMFRAME2 scene) {
    LPDIRECT3DRMLIGHT light = nullptr;
    if (rm->CreateLightRGB(D3DRMLIGHT_AMBIENT, 0.1f, 0.1f, 0.1f, &light) != D3DRM_OK) return;
    if (light) scene->AddLight(light);
    ReleaseLocal(light);
}

// A frame of its own at the origin facing +z: the light shines the way the camera looks.
void AddDirectionalLight(LPDIRECT3DRM2 rm, LPDIRECT3DRMFRAME2 scene) {
    LPDIRECT3DRMFRAME2 frame = nullptr;
    if (rm->CreateFrame(scene, &frame) != D3DRM_OK || !frame) return;
    LPDIRECT3DRMLIGHT light = nullptr;
    if (rm->CreateLightRGB(D3DRMLIGHT_DIRECTIONAL, 0.9f, 0.9f, 0.9f, &light) == D3DRM_OK && light)
        frame->AddLight(light);
    ReleaseLocal(light);
    ReleaseLocal(frame);
}

LPDIRECT3DRMFRAME2 CreateModelFrame(LPDIRECT3DRM2 rm, LPDIRECT3DRMFRAME2 scene) {
    LPDIRECT3DRMFRAME2 model = nullptr;
    if (rm->CreateFrame(scene, &model) != D3DRM_OK || !model) return nullptr;
    model->SetPosition(scene, 0.0f, 0.0f, 15.0f);
    model->SetOrientation(scene, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f);
    model->SetRotation(scene, 0.0f, 1.0f, 0.0f, SpinRate(g_scene.speed));
    return model;
}

// The load's result is not examined: an unreadable file leaves the builder
// empty and shows nothing (the loader names the file and the fault on stderr).
void LoadModel(LPDIRECT3DRMMESHBUILDER2 builder) {
    // Read whole: a path cut short names a different file, or none.
    static char path[FILENAME_BUFFER_SIZE];
    GetPrivateProfileStringA(SECTION_SETTING, KEY_FILENAME, DEFAULT_FILENAME, path, sizeof path,
                             SETTINGS_FILE);
    builder->Load(path, nullptr, D3DRMLOAD_FROMFILE, nullptr, nullptr);
}

void AddModel(LPDIRECT3DRM2 rm, LPDIRECT3DRMFRAME2 model) {
    LPDIRECT3DRMMESHBUILDER2 builder = nullptr;
    if (rm->CreateMeshBuilder(&builder) != D3DRM_OK || !builder) return;
    LoadModel(builder);
    g_scene.scale = SceneFitModel(builder);
    g_scene.quality = SceneQuality(g_scene.shade);
    builder->SetQuality(g_scene.quality);
    g_scene.color = SceneColor();
    builder->SetColor(g_scene.color);

    LPDIRECT3DRMMESH mesh = nullptr;
    if (builder->CreateMesh(&mesh) == D3DRM_OK && mesh) model->AddVisual(mesh);
    ReleaseLocal(mesh);
    ReleaseLocal(builder);
}

// The model frame spins about its origin: a model built away from its own origin would swing
// out of view, so the centre of its box is moved onto that origin before the scaling. A model
// centred already (to a fraction of a pixel) is left exactly as it is.
void CentreModel(LPDIRECT3DRMMESHBUILDER2 builder, const D3DRMBOX* box) {
    double cx = (box->min.x + box->max.x) / 2.0;
    double cy = (box->min.y + box->max.y) / 2.0;
    double cz = (box->min.z + box->max.z) / 2.0;
    double size = box->max.x - box->min.x;
    if (box->max.y - box->min.y > size) size = box->max.y - box->min.y;
    if (box->max.z - box->min.z > size) size = box->max.z - box->min.z;
    double slack = size * kCentred;
    if (fabs(cx) <= slack && fabs(cy) <= slack && fabs(cz) <= slack) return;
    builder->Translate(static_cast<D3DVALUE>(-cx), static_cast<D3DVALUE>(-cy),
                       static_cast<D3DVALUE>(-cz));
}

} // namespace

SceneState* SceneGetState(void) {
    return &g_scene;
}

void SceneReadSettings(void) {
    g_scene.speed = ClampSpeed(ReadInt(SECTION_SS, KEY_SPEED, SAVER_DEFAULT_SPEED));
    g_scene.shade = ClampShade(ReadInt(SECTION_SS, KEY_SHADE, DEFAULT_SHADE));
    g_scene.red = ClampColor(ReadInt(SECTION_SETTING, KEY_COLOR_R, DEFAULT_COLOR)) / 255.0;
    g_scene.green = ClampColor(ReadInt(SECTION_SETTING, KEY_COLOR_G, DEFAULT_COLOR)) / 255.0;
    g_scene.blue = ClampColor(ReadInt(SECTION_SETTING, KEY_COLOR_B, DEFAULT_COLOR)) / 255.0;
    g_scene.alpha = 1.0;
}

D3DCOLOR SceneColor(void) {
    DWORD a = static_cast<DWORD>(g_scene.alpha * 255.0);
    DWORD r = static_cast<DWORD>(g_scene.red * 255.0);
    DWORD g = static_cast<DWORD>(g_scene.green * 255.0);
    DWORD b = static_cast<DWORD>(g_scene.blue * 255.0);
    return (a << 24) | (r << 16) | (g << 8) | b;
}

D3DRMRENDERQUALITY SceneQuality(int shade) {
    return shade == SHADE_WIREFRAME ? D3DRMRENDER_WIREFRAME : D3DRMRENDER_GOURAUD;
}

double SceneFitModel(LPDIRECT3DRMMESHBUILDER2 builder) {
    D3DRMBOX box;
    memset(&box, 0, sizeof box);
    if (builder->GetBox(&box) != D3DRM_OK) return 0.0;
    CentreModel(builder, &box);
    double width = box.max.x - box.min.x;
    double height = box.max.y - box.min.y;
    double extent = width >= height ? width : height;
    // Nothing to scale in an empty model or a point (and no division by zero).
    if (!(extent > 0.0)) return 0.0;
    double scale = kModelExtent / extent;
    D3DVALUE s = static_cast<D3DVALUE>(scale);
    builder->Scale(s, s, s);
    return scale;
}

void SceneRelease(void) {
    ReleaseLocal(g_scene.camera);
    ReleaseLocal(g_scene.scene);
    g_scene.model = nullptr;
}

int BuildScene(void) {
    SceneReadSettings();
    g_scene.scale = 0.0;
    LPDIRECT3DRM2 rm = LMXGetState()->lpD3DRM2;
    if (!rm) return 1; // no layer to build with: the saver shows its black window

    if (rm->CreateFrame(nullptr, &g_scene.scene) != D3DRM_OK || !g_scene.scene) {
        g_scene.scene = nullptr;
        return 1;
    }
    if (rm->CreateFrame(g_scene.scene, &g_scene.camera) != D3DRM_OK || !g_scene.camera) {
        g_scene.camera = nullptr;
        return 1;
    }
    g_scene.camera->SetPosition(g_scene.scene, 0.0f, 0.0f, 0.0f);
    g_scene.camera->SetOrientation(g_scene.scene, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f);

    // A failed viewport has torn the layer down, retained-mode object included:
    // nothing more can be built, and the layer stays stopped.
    if (!LMXViewport(g_scene.camera)) return 1;

    AddAmbientLight(rm, g_scene.scene);
    AddDirectionalLight(rm, g_scene.scene);

    LPDIRECT3DRMFRAME2 model = CreateModelFrame(rm, g_scene.scene);
    if (model) {
        AddModel(rm, model);
        g_scene.model = model; // the scene keeps it alive from here on
        model->Release();
    }

    LMXSetRunning(1);
    return 1;
}
