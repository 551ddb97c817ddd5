// Assembles the picture viewer application database from its compiled code resource
// and the user-interface resources described here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pdb/palm_db_file.h"

namespace viewer {

inline constexpr char kDbName[] = "Starter";
inline constexpr uint32_t kDbType = pdb::MakeFourCC("appl");
inline constexpr uint32_t kDbCreator = pdb::MakeFourCC("CcVw");
inline constexpr uint16_t kDbVersion = 1;

// Resource ids the code relies on (see viewer_main.c).
inline constexpr uint16_t kMainFormId = 1000;
inline constexpr uint16_t kModeFormId = 1200;
inline constexpr uint16_t kModeFastButtonId = 1202;
inline constexpr uint16_t kModeCompatibleButtonId = 1203;
inline constexpr uint16_t kModeCancelButtonId = 1204;
inline constexpr uint16_t kAlertOldSystemId = 1001;
inline constexpr uint16_t kAlertNoMemoryId = 1101;
inline constexpr uint16_t kAlertCannotShowId = 1201;

// Every resource of the application, in the order it is stored, with `code1` as the
// code 1 resource.
std::vector<pdb::Resource> BuildViewerResources(const std::vector<uint8_t>& code1);

// The database header: name, type, creator, version, fixed dates (the build is
// reproducible).
pdb::DbInfo ViewerDbInfo();

// Writes the application database to `path`. Returns pdb::kOk or a pdb error.
int WriteViewerPrc(const std::vector<uint8_t>& code1, const std::string& path);

}  // namespace viewer
