// A scratch folder below the system's temporary folder, removed with everything in it when
// the test ends. Paths are UTF-8 with the system's separators, so the same test runs on
// Linux and on Windows.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/path_rules.h"

namespace testsupport {

class CTempFolder {
  public:
    explicit CTempFolder(const std::string& tag = "cc-test") {
        static std::atomic<unsigned> counter{0};
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[64];
            std::snprintf(name, sizeof name, "%s-%llx-%u", tag.c_str(),
                          static_cast<unsigned long long>(
                              std::chrono::steady_clock::now().time_since_epoch().count()),
                          counter.fetch_add(1));
            std::error_code ec;
            if (std::filesystem::create_directory(base / name, ec)) {
                m_path = platform::FromFsPath(base / name);
                break;
            }
        }
    }
    ~CTempFolder() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(platform::ToFsPath(m_path), ec);
    }
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    // The folder without its trailing separator; empty when it could not be made.
    const std::string& Path() const { return m_path; }
    // The folder with its trailing separator.
    std::string Dir() const { return platform::WithTrailingSeparator(m_path); }
    std::string File(const std::string& name) const { return Dir() + name; }

  private:
    std::string m_path;
};

}  // namespace testsupport
