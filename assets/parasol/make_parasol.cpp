// Writes the default parasol model as a text .x file.
//   make_parasol OUTPUT.x
#include "parasol_mesh.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_parasol OUTPUT.x\n");
        return 2;
    }
    parasol::Mesh mesh = parasol::Build();
    std::string text = parasol::WriteText(mesh);
    FILE* file = fopen(argv[1], "wb");
    if (!file) {
        perror(argv[1]);
        return 1;
    }
    bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
    if (fclose(file) != 0) written = false;
    if (!written) {
        fprintf(stderr, "make_parasol: could not write %s\n", argv[1]);
        remove(argv[1]);
        return 1;
    }
    return 0;
}
