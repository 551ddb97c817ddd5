// Build step: turns the linked code resource into VIEWER.PRC.
//
//   build_viewer_prc CODE1 CODE1_MOVED OUTPUT
//
// CODE1_MOVED is the same code linked at another address. The handheld runs the code
// wherever its resource happens to lie, so the two must be identical: any difference
// is an absolute address that would point into nowhere.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "resources/viewer/viewer_prc_builder.h"

namespace {

bool ReadAll(const char* path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s CODE1 CODE1_MOVED OUTPUT\n", argv[0]);
        return 2;
    }
    std::vector<uint8_t> code1, moved;
    if (!ReadAll(argv[1], code1) || !ReadAll(argv[2], moved) || code1.empty()) {
        std::fprintf(stderr, "build_viewer_prc: cannot read the code resources\n");
        return 1;
    }
    if (code1 != moved) {
        std::fprintf(stderr, "build_viewer_prc: the code depends on its load address\n");
        return 1;
    }
    // Code 1 must stay within reach of 16-bit PC-relative offsets.
    if (code1.size() > 0x7FFF) {
        std::fprintf(stderr, "build_viewer_prc: code resource too large (%zu bytes)\n",
                     code1.size());
        return 1;
    }
    const int rc = viewer::WriteViewerPrc(code1, argv[3]);
    if (rc != pdb::kOk) {
        std::fprintf(stderr, "build_viewer_prc: writing %s failed (%d)\n", argv[3], rc);
        return 1;
    }
    return 0;
}
