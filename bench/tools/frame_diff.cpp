// Compares two frames (binary PPMs of the same size, e.g. render_bench --dump with and without
// --full-detail): of the pixels lit in either, how many differ by more than a tolerance in any
// channel. Exits 1 when that share is above the allowed one.
//
//   frame_diff --a FILE.ppm --b FILE.ppm [--levels 24] [--percent 1]
#include "bench_util.h"

#include <cstdint>
#include <cstdlib>

namespace {

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

// Reads "P6 W H 255" and the pixels; false on anything else.
bool read_ppm(const char* path, Image& out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    int max = 0;
    const bool header = std::fscanf(f, "P6 %d %d %d", &out.width, &out.height, &max) == 3 &&
                        std::fgetc(f) != EOF && max == 255 && out.width > 0 && out.height > 0 &&
                        out.width <= 16384 && out.height <= 16384;
    if (header) out.rgb.resize(size_t(out.width) * size_t(out.height) * 3);
    const bool ok = header && std::fread(out.rgb.data(), 1, out.rgb.size(), f) == out.rgb.size();
    std::fclose(f);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    const bench::Args args(argc, argv,
                           "frame_diff --a FILE.ppm --b FILE.ppm [--levels 24] [--percent 1]");
    const char* a_path = args.get("a", nullptr);
    const char* b_path = args.get("b", nullptr);
    if (!a_path || !b_path) args.fail("--a and --b are needed");
    const long levels = args.number("levels", 24, 0, 255);
    const long percent = args.number("percent", 1, 0, 100);
    Image a, b;
    for (auto [path, image] : {std::pair{a_path, &a}, std::pair{b_path, &b}})
        if (!read_ppm(path, *image)) {
            std::fprintf(stderr, "frame_diff: '%s' is not a binary PPM\n", path);
            return 2;
        }
    if (a.width != b.width || a.height != b.height) {
        std::fprintf(stderr, "frame_diff: the frames differ in size\n");
        return 2;
    }
    long lit = 0, differ = 0, largest = 0;
    for (size_t i = 0; i < a.rgb.size(); i += 3) {
        const uint8_t* p = &a.rgb[i];
        const uint8_t* q = &b.rgb[i];
        if (!(p[0] | p[1] | p[2] | q[0] | q[1] | q[2])) continue;
        ++lit;
        long most = 0;
        for (int c = 0; c < 3; ++c)
            most = std::max<long>(most, std::labs(long(p[c]) - long(q[c])));
        largest = std::max(largest, most);
        differ += most > levels;
    }
    const double share = lit ? 100.0 * double(differ) / double(lit) : 0.0;
    std::printf("lit_px=%ld differ_px=%ld differ_pct=%.3f largest=%ld levels=%ld\n", lit, differ,
                share, largest, levels);
    return share <= double(percent) ? 0 : 1;
}
