// Palm database files: open, every block and entry read both ways, then everything that
// could be read written into a new file and read back the same.
#include "fuzz/fuzz_target.h"
#include "pdb/palm_db_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteInput(data, size, "input.pdb");
    auto db = pdb::CPalmDbFile::Open(path);
    if (!db) return 0;
    std::vector<uint8_t> appInfo, sortInfo;
    db->GetAppInfo(appInfo);
    db->GetSortInfo(sortInfo);
    const std::string copyPath = fuzz::ScratchDir() + "/copy.pdb";
    auto copy = pdb::CPalmDbFile::Create(copyPath, db->Info());
    if (!copy) return 0;
    if (!appInfo.empty()) copy->SetAppInfo(appInfo);
    if (!sortInfo.empty()) copy->SetSortInfo(sortInfo);
    std::vector<pdb::Record> records;
    std::vector<pdb::Resource> resources;
    for (int i = 0; i < db->EntryCount(); ++i) {
        uint32_t entrySize = 0;
        db->EntrySize(i, entrySize);
        pdb::Record record;
        if (db->ReadRecord(i, record) == pdb::kOk && !db->Info().IsResourceDb()) {
            if (copy->AppendRecord(record) == pdb::kOk) records.push_back(record);
        }
        pdb::Resource resource;
        if (db->ReadResource(i, resource) == pdb::kOk && db->Info().IsResourceDb()) {
            if (copy->AppendResource(resource) == pdb::kOk) resources.push_back(resource);
        }
        if (record.data.size() > size || resource.data.size() > size) {
            fuzz::Fail("an entry larger than the file");
        }
    }
    if (copy->Close() != pdb::kOk) return 0;

    auto back = pdb::CPalmDbFile::Open(copyPath);
    if (!back) fuzz::Fail("a written copy does not open");
    if (back->Info().name != db->Info().name.substr(0, pdb::kMaxNameLength) &&
        back->Info().name != db->Info().name) {
        fuzz::Fail("the copy's name differs");
    }
    if (size_t(back->EntryCount()) != records.size() + resources.size()) {
        fuzz::Fail("the copy's entry count differs");
    }
    for (size_t i = 0; i < records.size(); ++i) {
        pdb::Record r;
        if (back->ReadRecord(int(i), r) != pdb::kOk || r.data != records[i].data) {
            fuzz::Fail("a record of the copy differs");
        }
    }
    for (size_t i = 0; i < resources.size(); ++i) {
        pdb::Resource r;
        if (back->ReadResource(int(i), r) != pdb::kOk || r.data != resources[i].data ||
            r.type != resources[i].type || r.id != resources[i].id) {
            fuzz::Fail("a resource of the copy differs");
        }
    }
    std::vector<uint8_t> block;
    back->GetAppInfo(block);
    if (block != appInfo) fuzz::Fail("the copy's app info differs");
    return 0;
}
