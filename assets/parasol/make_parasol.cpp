// Writes the default parasol model as a text .x file.
//   make_parasol OUTPUT.x
#include "parasol_mesh.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_parasol OUTPUT.x\n");
        return 2;
    }
    xfile::MeshDesc desc = parasol::Describe(parasol::Build());
    if (!xfile::save(argv[1], xfile::write(desc, xfile::Format::Text))) {
        fprintf(stderr, "make_parasol: could not write %s\n", argv[1]);
        remove(argv[1]);
        return 1;
    }
    return 0;
}
