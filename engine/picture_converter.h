// Pictures converted for the worker on the window's thread: the carried viewer
// application written out, then a copy of it with the picture, fitted to the handheld.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/transfer_view.h"

class CPictureConverter final : public IPictureConverter {
  public:
    // The viewer application's bytes, as the program carries them.
    using ViewerSource = std::function<const std::vector<uint8_t>&()>;

    explicit CPictureConverter(ViewerSource viewer, bool compress = false)
        : m_viewer(std::move(viewer)), m_bCompress(compress) {}

    // Writes the viewer into the temporary directory as "VIEWER.PRC"; empty on failure.
    std::string UnpackViewer() override;
    bool Convert(const std::string& picturePath, const std::string& dbPath,
                 const std::string& viewerPath, const CDeviceSession& session) override;
    void SetCompress(bool compress) override { m_bCompress = compress; }

  private:
    ViewerSource m_viewer;
    bool m_bCompress;
};
