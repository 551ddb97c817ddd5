// What the end-to-end cases of archives, sounds, texts and pictures share: whole runs of the
// worker against the in-process virtual handheld with the temporary directory inside the
// test's scratch folder, and the files those runs install.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/picture_converter.h"
#include "platform/system.h"
#include "resources/viewer/viewer_prc.h"
#include "tests/session/db_builder.h"
#include "tests/support/worker_harness.h"

namespace e2e {

class CRunFixture : public testsupport::CWorkerRunFixture {
  protected:
    void SetUp() override {
        CWorkerRunFixture::SetUp();
        m_tmp = platform::WithTrailingSeparator(Path("tmp"));
        std::filesystem::create_directories(platform::ToFsPath(m_tmp));
        const auto old = platform::GetEnv("TMP");
        m_hadTmp = old.has_value();
        if (old) m_oldTmp = *old;
        platform::SetEnv("TMP", m_tmp.c_str());
        pictureConverter = &m_pictures;
    }
    void TearDown() override {
        CWorkerRunFixture::TearDown();
        platform::SetEnv("TMP", m_hadTmp ? m_oldTmp.c_str() : nullptr);
    }

    // A colour handheld (ROM 3.5, display feature 8) or a grey one with the given processor.
    void ColourHandheld() {
        config.romVersion = 0x03503000;
        config.displayFeature = 8;
    }
    void GreyHandheld(uint32_t cpuId = 0x00020000) {
        config.romVersion = 0x03503000;
        config.displayFeature = 2;
        config.cpuId = cpuId;
    }

    // Names of the databases on the handheld's card, sorted.
    std::vector<std::string> CardNames() const {
        std::vector<std::string> names;
        for (const auto& db : m_hh->Databases()) names.push_back(db.info.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string m_tmp;  // the run's temporary directory, ending in its separator

  private:
    CPictureConverter m_pictures{
        []() -> const std::vector<uint8_t>& { return resources::ViewerPrcBytes(); }};
    bool m_hadTmp = false;
    std::string m_oldTmp;
};

// A resource database with one code resource of `size` bytes.
inline bool WriteApp(const std::string& path, const std::string& name, const char (&creator)[5],
                     size_t size, uint8_t seed) {
    return testdb::WriteResourceDb(
        path, testdb::Info(name, true, "appl", creator),
        {{"code", 1, testdb::Bytes(size, seed)}, {"tver", 1, {'1', '.', '0', 0}}});
}

}  // namespace e2e
