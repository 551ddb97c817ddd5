// Palm database files: open, then every block and entry read both ways.
#include "fuzz/fuzz_target.h"
#include "pdb/palm_db_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteInput(data, size, "input.pdb");
    auto db = pdb::CPalmDbFile::Open(path);
    if (!db) return 0;
    std::vector<uint8_t> block;
    db->GetAppInfo(block);
    db->GetSortInfo(block);
    for (int i = 0; i < db->EntryCount(); ++i) {
        uint32_t entrySize = 0;
        db->EntrySize(i, entrySize);
        pdb::Record record;
        db->ReadRecord(i, record);
        pdb::Resource resource;
        db->ReadResource(i, resource);
        if (record.data.size() > size || resource.data.size() > size) __builtin_trap();
    }
    return 0;
}
