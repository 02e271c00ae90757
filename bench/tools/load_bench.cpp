// Times loading a model file into a mesh builder, as the saver loads its model, and
// reports the process's peak memory. Run it once per figure wanted: the first load of
// a process is the one the saver pays.
//
//   load_bench --model FILE [--runs N] [--stage builder|reader|meshes]
//
// The reader stage times the readers alone (bytes to model, any format), without the mesh
// builder's own conversion, to tell the two apart. The meshes stage times the reader of an OBJ,
// STL, PLY or glTF file up to its meshes, before they are triangulated, placed and given normals.
#include "bench_util.h"

#include <d3drm.h>
#include <models/models.h>
#include <xfile/xfile.h>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

long peak_rss_kb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    const bench::Args args(argc, argv,
                           "load_bench --model FILE [--runs N] [--stage builder|reader|meshes]");
    const char* path = args.get("model", nullptr);
    if (!path) args.fail("--model missing");
    const int runs = int(args.number("runs", 5, 1, 100000));
    const std::string stage = args.get("stage", "builder");
    if (stage != "builder" && stage != "reader" && stage != "meshes") args.fail(stage.c_str());
    struct stat st {};
    if (stat(path, &st) != 0) {
        std::fprintf(stderr, "load_bench: cannot open '%s'\n", path);
        return 1;
    }

    IDirect3DRM* rm1 = nullptr;
    void* obj = nullptr;
    if (Direct3DRMCreate(&rm1) != DD_OK || rm1->QueryInterface(IID_IDirect3DRM2, &obj) != DD_OK) {
        std::fprintf(stderr, "load_bench: no retained-mode object\n");
        return 1;
    }
    rm1->Release();
    auto* rm = static_cast<IDirect3DRM2*>(obj);

    // The first load runs on a fresh heap, as the saver's single load does: its time includes
    // the page faults of new memory, and the peak after it is the loader's own. Later loads
    // show the parser alone (their peak would add heap fragmentation from the earlier runs).
    const long base_kb = peak_rss_kb();
    std::vector<double> times, cpu;
    long first_peak_kb = 0;
    int faces = 0;
    for (int i = 0; i < runs; ++i) {
        HRESULT hr = DD_OK;
        double t0 = 0, c0 = 0;
        if (stage == "meshes") {
            models::Scene scene;
            std::string why;
            t0 = bench::wall_ms(), c0 = bench::cpu_ms();
            const xfile::Result r = models::load(path, scene, &why);
            times.push_back(bench::wall_ms() - t0);
            cpu.push_back(bench::cpu_ms() - c0);
            if (r != xfile::Result::Ok) {
                std::fprintf(stderr, "load_bench: %s\n", why.c_str());
                hr = D3DRMERR_BADFILE;
            }
            faces = 0;
            for (const models::Part& part : scene.parts)
                for (uint32_t n : part.mesh.face_sizes)
                    faces += n >= 3 ? int(n) - 2 : 0;
        } else if (stage == "reader") {
            xfile::Model model;
            t0 = bench::wall_ms(), c0 = bench::cpu_ms();
            if (models::load_model(path, model) != xfile::Result::Ok) hr = D3DRMERR_BADFILE;
            times.push_back(bench::wall_ms() - t0);
            cpu.push_back(bench::cpu_ms() - c0);
            faces = int(model.triangles.size());
        } else {
            IDirect3DRMMeshBuilder2* builder = nullptr;
            if (rm->CreateMeshBuilder(&builder) != DD_OK) return 1;
            t0 = bench::wall_ms(), c0 = bench::cpu_ms();
            hr = builder->Load(const_cast<char*>(path), nullptr, D3DRMLOAD_FROMFILE, nullptr,
                               nullptr);
            times.push_back(bench::wall_ms() - t0);
            cpu.push_back(bench::cpu_ms() - c0);
            faces = builder->GetFaceCount();
            builder->Release();
        }
        if (i == 0) first_peak_kb = peak_rss_kb();
        if (hr != DD_OK) {
            std::fprintf(stderr, "load_bench: loading '%s' failed (0x%08x)\n", path, unsigned(hr));
            return 1;
        }
    }
    rm->Release();
    const std::vector<double> warm(times.begin() + 1, times.end());
    const std::vector<double> warm_cpu(cpu.begin() + 1, cpu.end());
    std::printf("file_kb=%lld faces=%d runs=%d first_ms=%.3f first_cpu_ms=%.3f warm_ms=%.3f "
                "warm_cpu_ms=%.3f peak_rss_kb=%ld base_rss_kb=%ld growth_kb=%ld\n",
                (long long)(st.st_size / 1024), faces, runs, times[0], cpu[0], bench::median(warm),
                bench::median(warm_cpu), first_peak_kb, base_kb, first_peak_kb - base_kb);
    return 0;
}
