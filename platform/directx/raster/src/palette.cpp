#include <raster/raster.h>

#include <cstring>

namespace raster {

Palette8::Palette8() {
    for (int i = 0; i < 256; ++i)
        writable[i] = i >= 10 && i < 246;
    reset();
}

void Palette8::reset() {
    for (int i = 0; i < 256; ++i)
        used[i] = !writable[i];
    std::memset(cache_, 0, sizeof cache_);
}

uint8_t Palette8::index_for(uint32_t rgb) {
    const unsigned key = ((rgb >> 9) & 0x7C00) | ((rgb >> 6) & 0x03E0) | ((rgb >> 3) & 0x001F);
    if (cache_[key]) return static_cast<uint8_t>(cache_[key] - 1);

    // The colour the key stands for, widened back to 8 bits per channel.
    const int r5 = (key >> 10) & 31, g5 = (key >> 5) & 31, b5 = key & 31;
    const int r = (r5 << 3) | (r5 >> 2), g = (g5 << 3) | (g5 >> 2), b = (b5 << 3) | (b5 >> 2);

    int best = -1, best_d = 1 << 30, free_entry = -1;
    for (int i = 0; i < 256; ++i) {
        if (!used[i]) {
            if (writable[i] && free_entry < 0) free_entry = i;
            continue;
        }
        const int dr = entries[i].r - r, dg = entries[i].g - g, db = entries[i].b - b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < best_d) best_d = d, best = i;
    }
    // Within the quantisation step of an existing colour counts as exact.
    if (best < 0 || (best_d > 3 * 16 && free_entry >= 0)) {
        if (free_entry >= 0) {
            entries[free_entry] = {uint8_t(r), uint8_t(g), uint8_t(b)};
            used[free_entry] = true;
            changed[free_entry] = true;
            best = free_entry;
        } else {
            best = 0; // nothing usable at all
        }
    }
    cache_[key] = static_cast<uint16_t>(best + 1);
    return static_cast<uint8_t>(best);
}

} // namespace raster
