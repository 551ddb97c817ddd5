// The card the handheld targets and their seeds serve from: a sound database (records), an
// application (resources) and a database an application keeps open.
#pragma once

#include <memory>

#include "tools/handheld/handheld_state.h"

namespace fuzz {

inline void AddCardDatabase(handheld::CVirtualHandheld::State& state, const char* name,
                            bool resources) {
    auto db = std::make_unique<handheld::CardDatabase>();
    db->db.info.name = name;
    db->db.info.type = pdb::MakeFourCC(resources ? "appl" : "smfr");
    db->db.info.creator = pdb::MakeFourCC("psys");
    db->db.info.attributes = resources ? pdb::kAttrResDb : 0;
    db->db.appInfo.assign(30, 1);
    for (uint16_t i = 0; i < 3; ++i) {
        std::vector<uint8_t> data(20 + i * 100u, uint8_t(i));
        if (resources) {
            db->db.resources.push_back({data, pdb::MakeFourCC("code"), i});
        } else {
            pdb::Record record;
            record.data = data;
            record.uid = 0x1000u + i;
            record.attributes = uint8_t(i * 0x40);
            db->db.records.push_back(record);
        }
    }
    db->localId = state.nextLocalId += 0x100;
    db->heldOpen = state.config.openDbName == name;
    state.dbs.push_back(std::move(db));
}

inline constexpr char kHeldOpenName[] = "Held Open";

inline void FillCard(handheld::CVirtualHandheld::State& state) {
    AddCardDatabase(state, "System MIDI Sounds", false);
    AddCardDatabase(state, "Viewer", true);
    AddCardDatabase(state, kHeldOpenName, false);
}

}  // namespace fuzz
