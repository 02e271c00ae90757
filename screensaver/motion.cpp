// Motion step: keeps the model inside an invisible box in front of the camera,
// reversing travel and spin on each axis that has left it.
#include "plumora.h"
#include "scene.h"

namespace {

MotionState g_motion = {1, 1, 1};

const double kPi = 3.14159265359;

struct Axis {
    float low, high; // the box, as single floats: the position is compared in float
    double step;     // distance per frame
};
const Axis kX = {-7.0f, 7.0f, 0.1};
const Axis kY = {-4.0f, 4.0f, 0.08};
const Axis kZ = {12.0f, 50.0f, 0.2};

// A coordinate exactly on a bound is still inside.
void Bounce(const Axis& axis, float coordinate, int& direction) {
    if (coordinate < axis.low || coordinate > axis.high) direction = -direction;
}

D3DVALUE Sign(int direction) {
    return direction > 0 ? 1.0f : -1.0f;
}

} // namespace

MotionState* MotionGetState(void) {
    return &g_motion;
}

int StepMotion(void) {
    SceneState& scene = *SceneGetState();
    if (!scene.model || !scene.scene) return 0;

    D3DVECTOR position = {0.0f, 0.0f, 0.0f};
    scene.model->GetPosition(scene.scene, &position);
    Bounce(kX, position.x, g_motion.dirX);
    Bounce(kY, position.y, g_motion.dirY);
    Bounce(kZ, position.z, g_motion.dirZ);

    scene.model->SetVelocity(scene.scene, static_cast<D3DVALUE>(g_motion.dirX * kX.step),
                             static_cast<D3DVALUE>(g_motion.dirY * kY.step),
                             static_cast<D3DVALUE>(g_motion.dirZ * kZ.step), FALSE);
    // Each bounce flips one component of the spin axis too, so the tumble turns with it.
    scene.model->SetRotation(scene.scene, Sign(g_motion.dirX), Sign(g_motion.dirY),
                             Sign(g_motion.dirZ), static_cast<D3DVALUE>(scene.speed * kPi / 180.0));
    return 1;
}
