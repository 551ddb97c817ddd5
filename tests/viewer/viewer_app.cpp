#include "tests/viewer/viewer_app.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "resources/viewer/viewer_prc.h"

namespace viewer_test {
namespace {

struct Loaded {
    pdb::DbInfo info;
    std::vector<pdb::Resource> resources;
};

// The embedded bytes go through the same reader that the picture conversion uses.
Loaded Load() {
    char path[] = "/tmp/cc-viewer-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) throw std::runtime_error("no temporary file");
    const std::vector<uint8_t>& bytes = resources::ViewerPrcBytes();
    const bool written = write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    close(fd);
    Loaded out;
    std::unique_ptr<pdb::CPalmDbFile> file = written ? pdb::CPalmDbFile::Open(path) : nullptr;
    if (file) {
        out.info = file->Info();
        for (int i = 0; i < file->EntryCount(); ++i) {
            pdb::Resource r;
            if (file->ReadResource(i, r) == pdb::kOk) out.resources.push_back(std::move(r));
        }
    }
    unlink(path);
    if (!file) throw std::runtime_error("embedded viewer unreadable");
    return out;
}

const Loaded& Cached() {
    static const Loaded loaded = Load();
    return loaded;
}

}  // namespace

const std::vector<pdb::Resource>& ViewerResources() {
    return Cached().resources;
}

const pdb::DbInfo& ViewerInfo() {
    return Cached().info;
}

const std::vector<uint8_t>& ViewerCode1() {
    for (const pdb::Resource& r : ViewerResources()) {
        if (r.type == pdb::MakeFourCC("code") && r.id == 1) return r.data;
    }
    throw std::runtime_error("no code 1");
}

void AddApplication(CPalmEmulator& emu) {
    for (const pdb::Resource& r : ViewerResources()) {
        if (r.type != pdb::MakeFourCC("code"))
            emu.AddResource(pdb::FourCCToText(r.type), r.id, r.data);
    }
}

void AddPicture(CPalmEmulator& emu, const TestPicture& pic, bool compressed) {
    emu.AddResource("HEAD", 0, EncodeHead(pic, compressed));
    std::vector<std::vector<uint8_t>> tiles = EncodeTiles(pic, compressed);
    for (size_t i = 0; i < tiles.size(); ++i)
        emu.AddResource("BITM", uint16_t(i), std::move(tiles[i]));
}

std::vector<uint8_t> ExpectedView(const TestPicture& pic, int x, int y) {
    const int n = CPalmEmulator::kScreen;
    std::vector<uint8_t> view(size_t(n) * n, 0);
    for (int r = 0; r < n && y + r < pic.height; ++r) {
        for (int c = 0; c < n && x + c < pic.width; ++c) {
            view[size_t(r) * n + size_t(c)] = pic.At(x + c, y + r);
        }
    }
    return view;
}

}  // namespace viewer_test
