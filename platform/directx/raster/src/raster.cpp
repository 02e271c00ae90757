#include <raster/raster.h>

namespace raster {

void Renderer::draw(Target&, const Mesh&, const DrawParams&) {}
Rect Renderer::drawn() const {
    return drawn_;
}
void Renderer::reset_drawn() {
    drawn_ = {0, 0, 0, 0};
}
void clear(Target&, const Rect&, uint32_t, uint16_t) {}

} // namespace raster
