// Text to DOC on hostile text: any bytes (NULs, lone CRs, no line ends, huge lines), under
// names with and without extensions, with the first output name sometimes taken. The written
// database is read back and held against the text as the converter documents it.
#include <cstdio>
#include <filesystem>

#include "formats/doc/text_to_doc.h"
#include "fuzz/fuzz_target.h"
#include "pdb/palm_db_file.h"

namespace {

// The text the database must hold: CRs left out, a NUL drops the rest of its line and the LF.
std::vector<uint8_t> ExpectedText(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    bool skip = false;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        if (skip) {
            skip = c != '\n';
        } else if (c == 0) {
            skip = true;
        } else if (c != '\r') {
            out.push_back(c);
        }
    }
    return out;
}

uint32_t Get32(const std::vector<uint8_t>& v, size_t at) {
    return uint32_t(v[at]) << 24 | uint32_t(v[at + 1]) << 16 | uint32_t(v[at + 2]) << 8 | v[at + 3];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kNames[] = {"hostile.txt", "noext", "dotted.name.TXT", ".hidden"};
    const std::string dir = fuzz::FreshOutDir();
    const std::string textPath = dir + kNames[size % 4];
    if (size % 8 >= 4) fuzz::WriteInput(nullptr, 0, "out/hostile.PDB");
    if (std::FILE* f = std::fopen(textPath.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }

    std::string outPath;
    if (!ConvertTextFile(textPath, outPath)) fuzz::Fail("a readable text was not converted");
    if (outPath.rfind(dir, 0) != 0) fuzz::Fail("database written outside the text's folder");
    auto db = pdb::CPalmDbFile::Open(outPath);
    if (!db || db->EntryCount() < 1) fuzz::Fail("the database does not read back");
    pdb::Record header;
    if (db->ReadRecord(0, header) != pdb::kOk || header.data.size() != 16) {
        fuzz::Fail("record 0 is not the 16-byte header");
    }
    std::vector<uint8_t> text;
    for (int i = 1; i < db->EntryCount(); ++i) {
        pdb::Record record;
        if (db->ReadRecord(i, record) != pdb::kOk || record.data.empty() ||
            record.data.size() > 4096) {
            fuzz::Fail("a text record is unreadable or of a wrong size");
        }
        text.insert(text.end(), record.data.begin(), record.data.end());
    }
    if (text != ExpectedText(data, size)) fuzz::Fail("the text is not what the file holds");
    if (Get32(header.data, 4) != text.size()) fuzz::Fail("text length");
    if (((header.data[8] << 8) | header.data[9]) != db->EntryCount() - 1) fuzz::Fail("count");
    return 0;
}
