#include "engine/picture_converter.h"

#include <cstdio>

#include "engine/file_paths.h"
#include "engine/temp_dir.h"
#include "formats/picture/picture.h"
#include "platform/files.h"
#include "session/device_session.h"

std::string CPictureConverter::UnpackViewer() {
    if (m_writer) return m_writer();
    if (!m_viewer) return {};
    const std::vector<uint8_t>& bytes = m_viewer();
    if (bytes.empty()) return {};
    const std::string path = GetTempDir() + "VIEWER.PRC";
    std::FILE* f = platform::OpenFile(path, "wb");
    if (!f) return {};
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        platform::RemoveFile(path);
        return {};
    }
    return path;
}

bool CPictureConverter::Convert(const std::string& picturePath, const std::string& dbPath,
                                const std::string& viewerPath, const CDeviceSession& session) {
    // A FIFO or device named like a picture is not read: it stays, and is reported.
    if (viewerPath.empty() || !IsPlainFile(picturePath)) return false;
    const int colors = PictureColorCount(session.m_dwDisplayFeature, session.m_bColor != 0,
                                         session.m_bEzCpu != 0, session.m_bOldCpu != 0);
    // The database file carries the title the window chose (see IPictureConverter).
    return ConvertPictureFile(picturePath, dbPath, viewerPath, PictureTitle(dbPath), colors,
                              m_bCompress) == kPictureOk;
}
