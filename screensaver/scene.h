// The scene that scene construction builds and the motion step and render pass
// use: kept in one record so the three stay in step and tests can look inside.
#pragma once

#include "lumaxis/lumaxis.h"

struct SceneState {
    LPDIRECT3DRMFRAME2 scene;  // root frame, held for the whole run
    LPDIRECT3DRMFRAME2 camera; // child of the scene, held for the whole run
    LPDIRECT3DRMFRAME2 model;  // borrowed: the scene's child list holds the only reference
    double speed;              // spin, degrees per frame
    int shade;                 // 0 solid, 1 wireframe
    double red, green, blue;   // fractions 0..1
    double alpha;
    // What construction applied to the model, for diagnostics and tests.
    double scale;               // 0 when the model was left unscaled
    D3DCOLOR color;             // ARGB
    D3DRMRENDERQUALITY quality; // render quality of the mesh builder
};

// Travel direction per axis, +1 or -1; kept from one run to the next.
struct MotionState {
    int dirX, dirY, dirZ;
};

SceneState* SceneGetState(void);
MotionState* MotionGetState(void);

// Settings as the saver reads them: defaults and clamping applied.
void SceneReadSettings(void);
// ARGB from the stored fractions, each channel truncated toward zero.
D3DCOLOR SceneColor(void);
// Wireframe for shade 1, lit Gouraud-shaded solid for anything else.
D3DRMRENDERQUALITY SceneQuality(int shade);
// Scale so the larger of width and height becomes 3 units; an empty or
// degenerate box is left alone. Returns the factor applied, or 0.
double SceneFitModel(LPDIRECT3DRMMESHBUILDER2 builder);
// Releases the scene's frames (the saver never does; tests rebuild the scene).
void SceneRelease(void);
