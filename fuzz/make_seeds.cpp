// Writes seed inputs for the fuzz targets into OUTDIR/<target>/: small valid files of every
// kind the targets read, line scripts of a correct handshake and exchange, and the requests
// and answers of real desktop runs against the virtual handheld's request server.
//
//   cc-fuzz-seeds OUTDIR
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/backup_runs.h"
#include "fuzz/desktop_runs.h"
#include "fuzz/handheld_card.h"
#include "fuzz/line_script.h"
#include "hotsync/dlp.h"
#include "pdb/palm_db_file.h"

// libjpeg's header needs size_t and FILE declared first.
#include <jpeglib.h>

namespace {

using Bytes = std::vector<uint8_t>;
std::filesystem::path g_out;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
    const auto dir = g_out / target;
    std::filesystem::create_directories(dir);
    if (std::FILE* f = std::fopen((dir / name).c_str(), "wb")) {
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

Bytes ReadBack(const std::string& path) {
    Bytes out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) out.push_back(uint8_t(c));
        std::fclose(f);
    }
    return out;
}

// ---- Palm database files ----------------------------------------------------------------

void DatabaseSeeds() {
    const std::string tmp = (g_out / "db.tmp").string();
    pdb::DbInfo info;
    info.name = "Seed Records";
    info.type = pdb::MakeFourCC("DATA");
    info.creator = pdb::MakeFourCC("SeeD");
    if (auto db = pdb::CPalmDbFile::Create(tmp, info)) {
        db->SetAppInfo(Bytes(40, 'a'));
        db->SetSortInfo(Bytes(8, 's'));
        db->AppendRecord(Bytes(10, 1).data(), 10, pdb::kRecAttrDirty, 3, 0x123456);
        db->AppendRecord(nullptr, 0, pdb::kRecAttrDeleted, 0, 7);
        db->AppendRecord(Bytes(300, 2).data(), 300, pdb::kRecAttrArchived, 15, 8);
        db->Close();
        Write("pdb_file", "records.pdb", ReadBack(tmp));
    }
    info.name = "Seed Resources";
    info.attributes = pdb::kAttrResDb | pdb::kAttrBackup;
    info.type = pdb::MakeFourCC("appl");
    if (auto db = pdb::CPalmDbFile::Create(tmp, info)) {
        db->AppendResource(Bytes(50, 0x4E).data(), 50, pdb::MakeFourCC("code"), 1);
        db->AppendResource(reinterpret_cast<const uint8_t*>("1.0"), 4, pdb::MakeFourCC("tver"),
                           1000);
        db->AppendResource(nullptr, 0, pdb::MakeFourCC("tAIN"), 1000);
        db->Close();
        Write("pdb_file", "resources.prc", ReadBack(tmp));
    }
    info.name = "Empty";
    info.attributes = 0;
    if (auto db = pdb::CPalmDbFile::Create(tmp, info)) {
        db->Close();
        Write("pdb_file", "empty.pdb", ReadBack(tmp));
    }
    std::filesystem::remove(tmp);
}

// ---- Pictures ---------------------------------------------------------------------------

void Le16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Le32(Bytes& b, uint32_t v) {
    Le16(b, v);
    Le16(b, v >> 16);
}

// A Windows bitmap: file header, a 40-byte (or 12-byte core) header, colour table or masks,
// then the pixel bytes as given.
Bytes Bitmap(int width, int height, int bits, uint32_t compression, const Bytes& pixels,
             int paletteSize, bool core = false) {
    Bytes info;
    if (core) {
        Le32(info, 12);
        Le16(info, uint32_t(width));
        Le16(info, uint32_t(height));
        Le16(info, 1);
        Le16(info, uint32_t(bits));
    } else {
        Le32(info, 40);
        Le32(info, uint32_t(width));
        Le32(info, uint32_t(height));
        Le16(info, 1);
        Le16(info, uint32_t(bits));
        Le32(info, compression);
        Le32(info, uint32_t(pixels.size()));
        Le32(info, 2835);
        Le32(info, 2835);
        Le32(info, uint32_t(paletteSize));
        Le32(info, 0);
    }
    for (int i = 0; i < paletteSize; ++i) {
        const uint8_t v = uint8_t(i * 255 / std::max(1, paletteSize - 1));
        info.insert(info.end(), {v, uint8_t(255 - v), uint8_t(i * 37)});
        if (!core) info.push_back(0);
    }
    if (compression == 3) {  // bit fields: 5-6-5
        Le32(info, 0xF800);
        Le32(info, 0x07E0);
        Le32(info, 0x001F);
    }
    Bytes file = {'B', 'M'};
    Le32(file, uint32_t(14 + info.size() + pixels.size()));
    Le32(file, 0);
    Le32(file, uint32_t(14 + info.size()));
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

// Rows padded to four bytes, each byte from the pattern.
Bytes Rows(int width, int height, int bits, const std::function<uint8_t(int, int)>& byte) {
    const int stride = (width * bits + 31) / 32 * 4;
    Bytes out;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < stride; ++x) out.push_back(byte(x, y));
    }
    return out;
}

Bytes Jpeg(int width, int height, int components) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 60, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    Bytes row(size_t(width * components));
    for (int y = 0; y < height; ++y) {
        for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t(i * 7 + size_t(y) * 3);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

void PictureSeeds() {
    auto pattern = [](int x, int y) { return uint8_t(x * 13 + y * 7); };
    Write("picture_load", "mono.bmp", Bitmap(21, 9, 1, 0, Rows(21, 9, 1, pattern), 2));
    Write("picture_load", "four.bmp", Bitmap(13, 6, 4, 0, Rows(13, 6, 4, pattern), 16));
    Write("picture_load", "eight.bmp", Bitmap(17, 5, 8, 0, Rows(17, 5, 8, pattern), 256));
    Write("picture_load", "true.bmp", Bitmap(11, 7, 24, 0, Rows(11, 7, 24, pattern), 0));
    Write("picture_load", "alpha.bmp", Bitmap(6, 6, 32, 0, Rows(6, 6, 32, pattern), 0));
    Write("picture_load", "fields.bmp", Bitmap(9, 4, 16, 3, Rows(9, 4, 16, pattern), 0));
    Write("picture_load", "core.bmp", Bitmap(8, 3, 8, 0, Rows(8, 3, 8, pattern), 256, true));
    // RLE8: runs, an absolute stretch, a delta, line ends and the end of the bitmap.
    const Bytes rle8 = {4, 1, 0, 3, 9, 8, 7, 0, 0, 0, 2, 1, 1, 6, 2, 0, 0, 5, 3, 0, 1};
    Write("picture_load", "rle8.bmp", Bitmap(10, 3, 8, 1, rle8, 16));
    const Bytes rle4 = {6, 0x12, 0, 4, 0x34, 0x56, 0, 0, 10, 0x7F, 0, 0, 0, 1};
    Write("picture_load", "rle4.bmp", Bitmap(10, 3, 4, 2, rle4, 16));
    Write("picture_load", "grey.jpg", Jpeg(24, 16, 1));
    Write("picture_load", "colour.jpg", Jpeg(33, 20, 3));
}

// ---- Texts and sounds -------------------------------------------------------------------

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

void TextAndSoundSeeds() {
    Write("doc_convert", "lines.txt", Text("First line\r\nSecond line\r\n\r\nlast"));
    Write("doc_convert", "nul.txt", Text(std::string("before\0after\nnext\rline\n", 24)));
    Write("doc_convert", "long.txt", Bytes(9000, 'x'));
    Write("doc_convert", "empty.txt", {});
    const Bytes midi = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0,    0,  0,   1,    0,    96,   'M',
                        'T', 'r', 'k', 0,   0, 0, 8, 0, 0x90, 60, 100, 0x60, 0xFF, 0x2F, 0};
    Write("midi_check", "format0.mid", midi);
    Bytes two = midi;
    two[9] = 1;
    Write("midi_check", "format1.mid", two);
    Bytes record = {'P', 'M', 'r', 'c', 13, 0, 'a', 'l', 'a', 'r', 'm', 0};
    record.insert(record.end(), midi.begin(), midi.end());
    Write("midi_check", "record.bin", record);
}

// ---- Line scripts -----------------------------------------------------------------------

Bytes Answer(uint8_t function, const Bytes& argument = {}) {
    Bytes out = {uint8_t(function | 0x80), uint8_t(argument.empty() ? 0 : 1), 0, 0};
    if (!argument.empty()) {
        out.insert(out.end(), {0x20, uint8_t(argument.size())});
        out.insert(out.end(), argument.begin(), argument.end());
    }
    return out;
}

void ScriptSeeds() {
    using namespace fuzz;
    const Bytes wakeup = {0x01, 0x10, 1, 3, 0, 0, 0, 1, 0xC2, 0};
    {
        // The handshake, then OpenConduit, ReadSysInfo and EndOfSync answered.
        Bytes s = {1};
        PutSlp(s, 3, 3, 3, 0x15, {});
        PutRaw(s, {0x00, 0xBE, 0xEF});
        PutMessage(s, 0xFF, wakeup);
        PutPadp(s, 1, 2, 0xC0, 10, {0xB2, 0x60});
        PutPadp(s, 2, 2, 0xC0, 2, {});
        PutMessage(s, 2, Answer(0x2E));
        PutPadp(s, 3, 2, 0xC0, 6, {});
        PutMessage(s, 3, Answer(0x12, {4, 0x10, 0x30, 0, 0, 1, 0, 0, 0, 4, 0, 2, 0, 0}));
        PutSilence(s);
        PutPadp(s, 4, 4, 0xC0, 0, {});
        PutPadp(s, 4, 2, 0xC0, 6, {});
        PutMessage(s, 4, Answer(0x2F));
        Write("cmp_accept", "handshake", s);
    }
    {
        // Send 100 bytes, receive a reply, send 2000 bytes in two fragments, receive again.
        Bytes s = {4, 0, 0, 100, 2, 0, 0, 0, 0x07, 0xD0, 3, 0, 9, 0};
        PutPadp(s, 1, 2, 0xC0, 100, {});
        PutMessage(s, 1, Bytes(1500, 0x55));
        PutPadp(s, 1, 1, 0xC0, 1500, Bytes(3, 1));  // a repeat
        PutPadp(s, 2, 2, 0x80, 2000, {});
        PutPadp(s, 2, 2, 0x40, 1024, {});
        PutPadp(s, 9, 4, 0xC0, 0, {});
        PutMessage(s, 9, Bytes(10, 0x66));
        Write("padp_link", "exchange", s);
    }
}

// ---- Desktop runs against the request server --------------------------------------------

// Hands the line to a run while the seed maker keeps the peer.
class CForward final : public hotsync::ITransport {
  public:
    explicit CForward(hotsync::ITransport& to) : m_to(to) {}
    int Open() override { return m_to.Open(); }
    void Close() override { m_to.Close(); }
    int SetRate(int rate) override { return m_to.SetRate(rate); }
    int Read(uint8_t* b, size_t n, int t) override { return m_to.Read(b, n, t); }
    int Write(const uint8_t* d, size_t n) override { return m_to.Write(d, n); }
    int BytesWaiting() override { return m_to.BytesWaiting(); }

  private:
    hotsync::ITransport& m_to;
};

// A desktop run against the request server of a handheld so configured (the fuzz card in
// it), and the seeds it leaves: its answers for answersTarget, its requests for
// handheld_dlp, and with packets the desktop's packets for handheld_link.
using DesktopRun = void (*)(uint8_t mode, std::unique_ptr<hotsync::ITransport> line);

void RecordRun(handheld::HandheldConfig config, uint8_t mode, DesktopRun run,
               const std::string& answersTarget, const std::string& name, bool packets) {
    config.openDbName = fuzz::kHeldOpenName;
    config.cardSize = 70000;  // the card's answers are seeds too
    handheld::CVirtualHandheld::State state(config);
    fuzz::FillCard(state);
    handheld::CDlpServer server(state);
    const uint32_t rate = 57600;
    fuzz::CAnsweringPeer peer(
        fuzz::MakeWakeup(mode, rate),
        [&server](const Bytes& request, Bytes& answer) {
            bool end = false;
            answer = server.Handle(request, end);
            return true;
        },
        true);
    run(mode, std::make_unique<CForward>(peer));

    Bytes answers = {mode, uint8_t(rate >> 24), uint8_t(rate >> 16), uint8_t(rate >> 8),
                     uint8_t(rate)};
    for (const Bytes& a : peer.Answers()) fuzz::PutChunk(answers, a);
    Write(answersTarget, name, answers);

    const uint16_t dlpVersion = config.dlpVersion;
    const uint8_t versionChoice = dlpVersion == 0x0100 ? 0 : dlpVersion == 0x0101 ? 1 : 2;
    Bytes requests = {versionChoice};
    for (const Bytes& r : peer.Requests()) fuzz::PutChunk(requests, r);
    Write("handheld_dlp", name, requests);

    if (!packets) return;
    Bytes script = {1};
    for (const auto& p : peer.Packets()) {
        fuzz::PutPadp(script, p.xid, p.type, p.flags, p.sizeOrOffset, p.data);
    }
    Write("handheld_link", name, script);
}

void RunSeeds(uint8_t mode, uint16_t dlpVersion, const std::string& name) {
    handheld::HandheldConfig config;
    config.dlpVersion = dlpVersion;
    RecordRun(config, mode, fuzz::RunDesktop, "dlp_response", name, true);
}

// A whole backup and a restore against the request server. With parts set, every record
// comes in answers of at most 100 bytes, as a handheld with a small buffer sends it.
void BackupSeeds(uint8_t mode, uint16_t dlpVersion, bool parts, const std::string& name) {
    handheld::HandheldConfig config;
    config.dlpVersion = dlpVersion;
    if (parts) {
        config.reviseAnswer = [](const Bytes& request, Bytes& answer) {
            if (request.at(0) != 0x20 || answer.size() < 6 || answer[3] != 0) return;
            const size_t data = ((answer[4] & 0x80) ? 8 : 6) + 10;
            answer.resize(std::min(answer.size(), data + 100));
            const size_t n = answer.size() - (data - 10);
            if (answer[4] & 0x80) {
                answer[6] = uint8_t(n >> 8);
                answer[7] = uint8_t(n);
            } else {
                answer[5] = uint8_t(n);
            }
        };
    }
    RecordRun(config, mode, fuzz::RunBackupDesktop, "backup_response", name, false);
}

void BackupFolderSeeds() {
    Bytes record;
    const std::string text =
        "# Cradlecourier: the handheld backed up here\nUserName=J\xC3\xBCrgen\nUserId=7\n"
        "ViewerId=1\nLastSyncPc=2\nBackupTime=1714035112\nDatabases=3\n";
    fuzz::PutChunk(record, Bytes(text.begin(), text.end()));
    record.push_back(3);
    for (const char* file : {"MEMODB.PDB", "APP.PRC", "notes.txt"}) {
        fuzz::PutChunk(record, Bytes(file, file + std::strlen(file)));
        const std::string path = (g_out / "db.tmp").string();
        pdb::DbInfo info;
        info.name = file;
        info.attributes = std::strstr(file, ".PRC") ? pdb::kAttrResDb : 0;
        info.type = pdb::MakeFourCC(std::strstr(file, ".PRC") ? "appl" : "sprf");
        if (auto db = pdb::CPalmDbFile::Create(path, info)) {
            if (info.IsResourceDb()) {
                db->AppendResource(Bytes(30, 1).data(), 30, pdb::MakeFourCC("code"), 1);
            } else {
                db->AppendRecord(Bytes(20, 2).data(), 20, 0, 1, 0x100);
            }
            db->Close();
        }
        fuzz::PutChunk(record, std::strstr(file, ".txt") ? Bytes(10, 'x') : ReadBack(path));
        std::filesystem::remove(path);
    }
    Write("backup_folder", "record-and-copies", record);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: cc-fuzz-seeds OUTDIR\n");
        return 2;
    }
    g_out = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(g_out, ec);
    DatabaseSeeds();
    PictureSeeds();
    TextAndSoundSeeds();
    ScriptSeeds();
    RunSeeds(0, 0x0102, "requests-dlp12");
    RunSeeds(1, 0x0102, "install-dlp12");
    RunSeeds(0x13, 0x0101, "install-dlp11");
    RunSeeds(1, 0x0100, "install-dlp10");
    BackupSeeds(0, 0x0102, false, "backup-dlp12");
    BackupSeeds(0, 0x0100, false, "backup-dlp10");
    BackupSeeds(0, 0x0102, true, "backup-in-parts");
    BackupSeeds(1, 0x0102, false, "restore-dlp12");
    BackupFolderSeeds();
    return 0;
}
