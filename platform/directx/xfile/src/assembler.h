// Building one mesh of a Model: the one place where faces are checked, triangulated, placed and
// given normals, for the .x reader and for append_mesh (mesh.h) alike.
#pragma once

#include "geometry.h"

#include <xfile/mesh.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <vector>

namespace xfile::detail {

// Asks for huge pages under a large array before it is first written: fresh memory costs a
// fault per page touched, and a 2 MB page takes one where 4 KB pages take 512. A hint only.
inline void advise_huge(const void* p, size_t bytes) {
    constexpr uintptr_t k2M = uintptr_t(2) << 20;
    const uintptr_t a = (uintptr_t(p) + k2M - 1) & ~(k2M - 1);
    const uintptr_t b = (uintptr_t(p) + bytes) & ~(k2M - 1);
    if (b > a) madvise(reinterpret_cast<void*>(a), b - a, MADV_HUGEPAGE);
}

template <class T> void reserve(std::vector<T>& v, size_t n) {
    if (n <= v.capacity()) return;
    v.reserve(n);
    advise_huge(v.data(), v.capacity() * sizeof(T));
}

// Grows a vector geometrically for `extra` more items: callers reserve no more than the data
// actually read backs.
template <class T> void grow(std::vector<T>& v, size_t extra) {
    size_t need = v.size() + extra;
    if (need > v.capacity()) reserve(v, std::max(need, v.capacity() + v.capacity() / 2));
}

class MeshAssembler {
  public:
    // Starts a mesh whose `count` positions are the last ones of out.positions, still in the
    // file's coordinates and already checked to be finite. `faces` (an estimate) reserves room
    // ahead.
    void begin(Model& out, uint32_t count, size_t faces);

    // One face, its corners numbered within the mesh, triangulated at once (in the file's
    // coordinates, so placement can't change how a polygon is cut). A face naming a position
    // the mesh doesn't have is dropped but keeps its number: normals and values given per face
    // still pair with the file's faces.
    void face(const uint32_t* corners, uint32_t n) {
        // Triangles, most faces of most files, straight in.
        if (n == 3 && corners[0] < count_ && corners[1] < count_ && corners[2] < count_) {
            const uint32_t b = base_;
            sizes_.push_back(3);
            corners_ += 3;
            out_->triangles.push_back(
                {{b + corners[0], b + corners[1], b + corners[2]}, {0, 1, 2}, -1, 7});
            return;
        }
        polygon(corners, n);
    }
    // A face whose corners can't be read (past the end of the list): dropped, still numbered.
    void missing_face(uint32_t n);

    const std::vector<uint32_t>& face_sizes() const { return sizes_; }
    size_t corners() const { return corners_; }

    // Normals the file gives: one index into `normals` per corner, face after face, for every
    // face (dropped ones included; a list that ends early leaves out the faces it misses).
    // `normals` holds them; while the model has no normal yet they become its own, mapped
    // where they lie rather than copied.
    struct GivenNormals {
        std::vector<Vec3>& normals;
        const uint32_t* index;
        size_t corners; // entries in index
    };

    // Finishes the mesh: drops faces naming a normal that doesn't exist, places the positions,
    // keeps fronts outside under a mirroring matrix, maps the given normals through the inverse
    // transpose (or builds smooth ones) and writes each face's value (one per face, or null)
    // into its triangles' material. Counts the mesh and the faces dropped in the model. False,
    // with a reason, when a placed position is not a finite number.
    bool end(const Placement& placement, const GivenNormals* normals, const int32_t* values,
             std::string& error);

  private:
    void polygon(const uint32_t* corners, uint32_t n);
    void drop(size_t face, uint8_t how);
    // Calls f(face, its first triangle, its triangle count, its first corner) for every face.
    template <class F> void each_face(F f);
    void drop_bad_normals(const GivenNormals& given);
    void remove_dropped();
    bool place(const Placement& placement, double normal_matrix[9], std::string& error);
    void map_normals(const GivenNormals& given, const double normal_matrix[9], bool flip_z);

    Model* out_ = nullptr;
    uint32_t base_ = 0, count_ = 0;
    size_t first_triangle_ = 0;
    size_t corners_ = 0;
    size_t ndropped_ = 0;
    std::vector<uint32_t> sizes_;
    std::vector<uint8_t> dropped_; // per face, empty while none is: kEarly or kLate
    std::vector<uint32_t> kept_sizes_;
    std::vector<Corner3> cut_;
    Triangulator triangulator_;
    NormalBuilder normal_builder_;
};

} // namespace xfile::detail
