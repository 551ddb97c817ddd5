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

    // Writes the viewer file somewhere of its choosing and gives its path; empty on failure.
    using ViewerWriter = std::function<std::string()>;

    explicit CPictureConverter(ViewerSource viewer, bool compress = false)
        : m_viewer(std::move(viewer)), m_bCompress(compress) {}

    // The program's own writer (where it keeps its carried files) instead of the temporary
    // directory.
    void SetViewerWriter(ViewerWriter writer) { m_writer = std::move(writer); }

    // Writes the viewer as "VIEWER.PRC" with the writer, or else into the temporary
    // directory; empty on failure.
    std::string UnpackViewer() override;
    bool Convert(const std::string& picturePath, const std::string& dbPath,
                 const std::string& viewerPath, const CDeviceSession& session) override;
    void SetCompress(bool compress) override { m_bCompress = compress; }

  private:
    ViewerSource m_viewer;
    ViewerWriter m_writer;
    bool m_bCompress;
};
