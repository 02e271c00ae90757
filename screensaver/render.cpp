// The render pass: recover lost surfaces, advance the scene one time unit,
// draw it and put it on the screen.
#include "plumora.h"
#include "scene.h"

namespace {

const D3DVALUE kTimeStep = 1.0f;

} // namespace

int RenderFrame(void) {
    if (!LMXIsRunning()) return 1;
    LPDIRECT3DRMFRAME2 root = SceneGetState()->scene;
    if (!root) return 1;

    LMXRestoreSurfaces();
    if (!LMX_CHECK_RM(root->Move(kTimeStep))) return 0;
    // A failed render has torn the layer down; the copy then does nothing.
    LMXRender(root);
    LMXPresent();
    return 1;
}
