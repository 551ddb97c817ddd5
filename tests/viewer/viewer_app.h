// The viewer application as the program carries it, read back through the database
// reader, and helpers to stage it with a picture in the emulator.
#pragma once

#include <vector>

#include "pdb/palm_db_file.h"
#include "tests/viewer/palm_emulator.h"
#include "tests/viewer/picture_encoder.h"

namespace viewer_test {

// The resources of the embedded VIEWER.PRC, in stored order, and its header.
const std::vector<pdb::Resource>& ViewerResources();
const pdb::DbInfo& ViewerInfo();
const std::vector<uint8_t>& ViewerCode1();

// Adds the application's resources (all but code) to the emulator.
void AddApplication(CPalmEmulator& emu);

// Adds HEAD and BITM resources for the picture.
void AddPicture(CPalmEmulator& emu, const TestPicture& pic, bool compressed);

// The screen expected with the picture scrolled to (x, y): picture pixels where the
// picture is, white elsewhere.
std::vector<uint8_t> ExpectedView(const TestPicture& pic, int x, int y);

}  // namespace viewer_test
