// Software renderer: triangle meshes into pixel and 16-bit depth buffers.
//
// Pure code over caller-owned buffers: no globals, no I/O, standard library only. A Renderer
// keeps scratch buffers that grow on first use; drawing a frame of the same size allocates
// nothing.
#pragma once

#include <raster/pixel.h>

#include <cstdint>
#include <vector>

namespace raster {

struct Vec3 {
    float x, y, z;
};

struct PaletteEntry {
    uint8_t r, g, b;
};

// An 8-bit palette the renderer shares with its owner. The renderer reads the colours of all
// usable entries but writes only entries marked writable; each write sets `changed`, and the
// owner copies changed entries to its display palette and clears the flags. Colours are matched
// at 5 bits per channel: an exact match among the usable entries wins, otherwise a free writable
// entry is allocated, and when none is left the nearest usable entry is taken.
struct Palette8 {
    PaletteEntry entries[256]{};
    bool writable[256]{}; // the renderer may set this entry's colour
    bool used[256]{};     // the entry holds a colour the renderer may map to
    bool changed[256]{};  // set by the renderer when it wrote the entry

    // Default layout of a shared display palette: entries 0-9 and 246-255 read-only (their
    // colours left to the owner), the 236 in between writable and free.
    Palette8();

    // Frees every writable entry and forgets all matches; read-only entries stay usable. Call it
    // after changing `entries` or `writable` from outside.
    void reset();

    // Palette index for a 0xRRGGBB colour, allocating an entry when needed.
    uint8_t index_for(uint32_t rgb);

  private:
    uint16_t cache_[32768]; // 15-bit colour -> entry + 1, 0 = not yet matched
};

struct Target {
    uint8_t* pixels;
    int width, height;
    int pitch; // bytes
    Format format;
    // May be null: no depth test, no depth writes. Holds the complement of each depth
    // (65535 - z'), so zeroed memory, as the kernel hands it out, is a cleared buffer.
    uint16_t* depth;
    int depth_pitch;   // elements
    Palette8* palette; // Indexed8 only
};

// Row-vector convention: p' = p * M, translation in m[3][0..2].
struct Mat4 {
    float m[4][4];
};

// Camera space is left-handed, +z forward, +y up. Screen x = center_x + scale_x * x / z,
// y = center_y - scale_y * y / z (pixels, y down). Geometry is clipped to front <= z <= back.
struct Projection {
    float scale_x, scale_y, center_x, center_y, front, back;
};

// The retained mode's render-quality bits, so its values pass straight through (checked where
// both are seen).
enum Fill : uint32_t {
    SHADE_FLAT = 0,
    SHADE_GOURAUD = 1,
    SHADE_MASK = 7,
    LIGHT_OFF = 0,
    LIGHT_ON = 8,
    LIGHT_MASK = 0x38,
    FILL_POINTS = 0,
    FILL_WIREFRAME = 0x40,
    FILL_SOLID = 0x80,
    FILL_MASK = 0x1C0,
};

struct Lighting {
    float ambient[3];
    int directional_count; // at most 8 are used
    struct {
        Vec3 dir; // camera space, the way the light travels
        float color[3];
    } directional[8];
};

// A wireframe edge between vertices a and b, drawn by up to two triangles: once when either of
// them faces the camera. faces[1] is kNoFace for an edge of one triangle.
struct MeshEdge {
    uint32_t a, b;
    uint32_t faces[2];
};
constexpr uint32_t kNoFace = 0xFFFFFFFF;

struct Mesh {
    const Vec3* positions;
    const Vec3* normals; // vertex_count entries, or null: lighting uses the ambient term only
    uint32_t vertex_count;
    const uint32_t* indices; // 3 per triangle
    uint32_t triangle_count;
    const uint8_t* edge_masks; // triangle_count entries, bit i = draw edge i->i+1; null = all
    // Optional, for FILL_WIREFRAME: the mesh's edges from build_edges(), so an edge two front
    // faces share is drawn once. Null: every front face draws its own allowed edges.
    const MeshEdge* edges = nullptr;
    uint32_t edge_count = 0;
};

// Wireframe edges of a mesh for Mesh::edges (built once per mesh, not per frame): each edge its
// triangles' masks allow, listed once with the triangles that draw it (a third triangle on the
// same edge starts another entry). Triangles with out-of-range indices are left out. Drawing
// with the list covers the same pixels as drawing without it.
void build_edges(const Mesh&, std::vector<MeshEdge>& out);

struct DrawParams {
    Mat4 model_to_camera;
    Projection projection;
    uint32_t quality;         // Fill bits
    float color[3];           // 0..1 mesh colour
    const Lighting* lighting; // may be null: drawn as with LIGHT_OFF
};

namespace detail {
// A vertex after transform, lighting and projection.
struct Vertex {
    int32_t fx, fy;   // screen, 1/16 pixel
    float z;          // depth 0..65535
    uint32_t rgb;     // 0x00RRGGBB
    uint32_t outcode; // planes the vertex is outside of (bit 31: not finite)
    float cx, cy, cz; // camera space
};
} // namespace detail

// Draws meshes into a target. What draw() does:
// - Vertices go through model_to_camera; normals through the inverse transpose of its 3x3 part,
//   renormalised. LIGHT_ON with lighting: colour = mesh colour x (ambient + sum over lights of
//   max(0, N . -dir) x light colour), each channel clamped to 1; otherwise the mesh colour.
// - Back faces are culled in every fill mode: front faces are clockwise on screen (x right,
//   y up). Geometry is clipped to front <= z <= back; non-finite vertices drop their triangles;
//   out-of-range indices are skipped.
// - FILL_SOLID: pixel centres inside the triangle, top-left rule. SHADE_FLAT colours a triangle
//   with the average of its vertex colours; SHADE_GOURAUD interpolates (screen-linear).
// - FILL_WIREFRAME: 1-pixel lines along the edges allowed by edge_masks, both ends drawn; edges
//   shared by two front faces are drawn by both (once with Mesh::edges, in the flat colour of
//   the first of its faces that is drawn). Lines along the same edge cover the same pixels
//   whichever way they run. FILL_POINTS: the vertex pixels of front faces.
// - Depth (when the target has a buffer): z' = back / (back - front) * (1 - front / z) scaled
//   to 0..65535, tested LESS against the buffer and written where it passes.
// Unusable targets or projections (null pixels, too small pitch, more than 16384 pixels a side,
// front <= 0, back <= front, non-finite values) draw nothing.
class Renderer {
  public:
    void draw(Target&, const Mesh&, const DrawParams&);
    // Bounding box of the pixels written since reset_drawn() (it may include pixels of a
    // triangle that then failed the depth test).
    Rect drawn() const;
    void reset_drawn();

  private:
    std::vector<detail::Vertex> verts_;
    std::vector<uint32_t> face_colour_; // wireframe with edges: flat colour of front faces
    std::vector<uint8_t> front_;        // wireframe with edges: triangle faces the camera
    Rect drawn_{0, 0, 0, 0};
};

// Fills rect (clipped to the target) with a colour and, when the target has one, the depth
// buffer with `depth` (0xFFFF: the back plane, stored as zero). Nothing outside the rectangle is
// written.
void clear(Target&, const Rect&, uint32_t rgb, uint16_t depth);

} // namespace raster
