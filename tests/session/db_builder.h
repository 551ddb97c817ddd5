// Palm database files made on the fly for the session, engine and console tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "pdb/palm_db_file.h"
#include "platform/files.h"
#include "platform/path_rules.h"
#include "platform/system.h"

namespace testdb {

inline std::vector<uint8_t> Bytes(size_t size, uint8_t seed) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return data;
}

inline pdb::DbInfo Info(const std::string& name, bool resource, const char (&type)[5],
                        const char (&creator)[5]) {
    pdb::DbInfo info;
    info.name = name;
    info.attributes = resource ? pdb::kAttrResDb : 0;
    info.version = 1;
    info.type = pdb::MakeFourCC(type);
    info.creator = pdb::MakeFourCC(creator);
    info.createDate = 1000000000;  // 2001-09-09
    info.modifyDate = 1000000100;
    info.backupDate = 1000000200;
    info.modnum = 3;
    return info;
}

// A resource database; entries are (type, id, data).
struct Res {
    const char* type;
    uint16_t id;
    std::vector<uint8_t> data;
};

inline bool WriteResourceDb(const std::string& path, pdb::DbInfo info,
                            const std::vector<Res>& resources,
                            const std::vector<uint8_t>& appInfo = {}) {
    info.attributes |= pdb::kAttrResDb;
    auto f = pdb::CPalmDbFile::Create(path, info);
    if (!f) return false;
    if (!appInfo.empty()) f->SetAppInfo(appInfo);
    for (const Res& r : resources) {
        if (f->AppendResource(r.data.data(), r.data.size(), pdb::FourCCFromText(r.type), r.id) !=
            pdb::kOk) {
            return false;
        }
    }
    return f->Close() == pdb::kOk;
}

inline bool WriteRecordDb(const std::string& path, pdb::DbInfo info,
                          const std::vector<pdb::Record>& records,
                          const std::vector<uint8_t>& appInfo = {},
                          const std::vector<uint8_t>& sortInfo = {}) {
    info.attributes &= static_cast<uint16_t>(~pdb::kAttrResDb);
    auto f = pdb::CPalmDbFile::Create(path, info);
    if (!f) return false;
    if (!appInfo.empty()) f->SetAppInfo(appInfo);
    if (!sortInfo.empty()) f->SetSortInfo(sortInfo);
    for (const pdb::Record& r : records) {
        if (f->AppendRecord(r) != pdb::kOk) return false;
    }
    return f->Close() == pdb::kOk;
}

inline pdb::Record Rec(size_t size, uint8_t seed, uint8_t attributes = 0, uint8_t category = 0,
                       uint32_t uid = 0) {
    pdb::Record r;
    r.data = Bytes(size, seed);
    r.attributes = attributes;
    r.category = category;
    r.uid = uid;
    return r;
}

// A fresh, empty directory under the build tree for one test.
inline std::string ScratchDir(const std::string& name) {
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("cc-test-" + name + "-" + std::to_string(platform::ProcessId()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return platform::WithTrailingSeparator(platform::FromFsPath(dir));
}

}  // namespace testdb
