#include "session/card_writer.h"

#include <algorithm>
#include <cstdlib>

#include "session/device_session.h"

using namespace hotsync;

CardSelector ParseCardSelector(const std::string& text) {
    CardSelector selector;
    if (text.empty()) return selector;
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (end && *end == '\0' && n >= 1 && n <= long(kMaxVolumes) &&
        text.find_first_not_of("0123456789") == std::string::npos) {
        selector.number = int(n);
    } else {
        selector.label = text;
    }
    return selector;
}

bool IsCardFileName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxVfsName &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

int CCardWriter::Failure(int r) const {
    if (m_socket.IsBroken() || r == kErrLinkBroken) return kInstallLinkBroken;
    switch (r) {
        case kVfsErrVolumeFull:
            return kCardFull;
        case kVfsErrPermissionDenied:
        case kExpErrCardReadOnly:
            return kCardReadOnly;
        case kVfsErrBadName:
            return kCardBadName;
        case kDlpErrIllegalRequest:
            return kCardNoExpansion;
        default:
            return kCardWriteFailed;
    }
}

int CCardWriter::Select(const CardSelector& selector) {
    if (m_bSelected) return m_nSelectResult;
    m_bSelected = true;
    m_nSelectResult = [&] {
        // The slot list only tells whether the handheld has an expansion manager at all.
        std::vector<int> slots;
        const int s = DlpExpSlotEnumerate(m_socket, slots);
        if (s == kDlpErrIllegalRequest) return kCardNoExpansion;
        if (m_socket.IsBroken()) return kInstallLinkBroken;
        std::vector<int> volumes;
        const int v = DlpVFSVolumeEnumerate(m_socket, volumes);
        if (v == kDlpErrIllegalRequest) return kCardNoExpansion;
        if (m_socket.IsBroken()) return kInstallLinkBroken;
        if (v != 0) return kCardNone;
        int position = 0;
        for (int volRef : volumes) {
            VolumeInfo info;
            if (DlpVFSVolumeInfo(m_socket, volRef, info) != 0) {
                if (m_socket.IsBroken()) return kInstallLinkBroken;
                continue;
            }
            if (info.attributes & kVolumeAttrHidden) continue;
            ++position;
            std::string label;
            DlpVFSVolumeGetLabel(m_socket, volRef, label);
            const bool wanted = selector.number != 0      ? selector.number == position
                                : !selector.label.empty() ? selector.label == label
                                                          : true;
            if (!wanted) continue;
            m_nVolRef = volRef;
            m_nSlotRef = info.slotRef;
            m_bSlotBased = (info.attributes & kVolumeAttrSlotBased) != 0;
            m_label = label;
            return (info.attributes & kVolumeAttrReadOnly) ? kCardReadOnly : 0;
        }
        return m_socket.IsBroken() ? kInstallLinkBroken : kCardNone;
    }();
    return m_nSelectResult;
}

bool CCardWriter::FreeSpace(uint32_t& free) {
    uint32_t used = 0, total = 0;
    if (DlpVFSVolumeSize(m_socket, m_nVolRef, used, total) != 0) return false;
    const uint64_t left = total > used ? uint64_t(total) - used : 0;
    free = uint32_t(left > kCardReserve ? left - kCardReserve : 0);
    return true;
}

int CCardWriter::MakeLauncherDir() {
    if (m_bDirMade) return 0;
    const std::string launcher = kCardLauncherDir;
    for (const std::string& dir : {launcher.substr(0, launcher.rfind('/')), launcher}) {
        const int r = DlpVFSDirCreate(m_socket, m_nVolRef, dir);
        if (r != 0 && r != kDlpErrAlreadyExists && r != kVfsErrFileAlreadyExists) {
            return Failure(r);
        }
    }
    m_bDirMade = true;
    return 0;
}

int CCardWriter::WriteOpen(uint32_t fileRef, const std::vector<uint8_t>& data,
                           const std::function<void(uint32_t)>& progress,
                           const std::atomic<uint8_t>& cancel) {
    // A file that was there before is replaced: emptied first.
    int r = DlpVFSFileResize(m_socket, fileRef, 0);
    if (r != 0) return Failure(r);
    size_t at = 0;
    while (at < data.size()) {
        if (cancel) return 0;
        const size_t n = std::min(kCardChunk, data.size() - at);
        uint32_t written = 0;
        r = DlpVFSFileWrite(m_socket, fileRef, std::span(data).subspan(at, n), written);
        if (r != 0) return Failure(r);
        // A short write is continued; one that takes nothing would never end.
        if (written == 0) return kCardWriteFailed;
        at += written;
        if (progress) progress(written);
    }
    uint32_t size = 0;
    r = DlpVFSFileSize(m_socket, fileRef, size);
    if (r != 0) return Failure(r);
    return size == data.size() ? 0 : kInstallVerifyFailed;
}

int CCardWriter::Write(const std::string& name, const std::vector<uint8_t>& data,
                       const std::function<void(uint32_t)>& progress,
                       const std::atomic<uint8_t>& cancel) {
    if (!IsCardFileName(name)) return kCardBadName;
    const int selected = Select({});
    if (selected != 0) return selected;
    // The card may have been taken out since it was chosen.
    if (m_bSlotBased) {
        const int present = DlpExpCardPresent(m_socket, m_nSlotRef);
        if (present != 0) return m_socket.IsBroken() ? kInstallLinkBroken : kCardNone;
    }
    uint32_t free = 0;
    if (FreeSpace(free) && data.size() > free) return kCardFull;
    if (m_socket.IsBroken()) return kInstallLinkBroken;
    int r = MakeLauncherDir();
    if (r != 0) return r;

    const std::string path = std::string(kCardLauncherDir) + "/" + name;
    r = DlpVFSFileCreate(m_socket, m_nVolRef, path);
    if (r != 0 && r != kDlpErrAlreadyExists && r != kVfsErrFileAlreadyExists) return Failure(r);
    const bool created = r == 0;
    uint32_t fileRef = 0;
    r = DlpVFSFileOpen(m_socket, m_nVolRef, path, kVfsModeReadWrite, fileRef);
    if (r != 0) {
        const int result = Failure(r);
        // A file made just now and never opened is removed again; one that was there
        // before (perhaps open in an application) stays as it was.
        if (created && result != kInstallLinkBroken) DlpVFSFileDelete(m_socket, m_nVolRef, path);
        return result;
    }
    int result = WriteOpen(fileRef, data, progress, cancel);
    if (result == kInstallLinkBroken) return result;
    const int closed = DlpVFSFileClose(m_socket, fileRef);
    if (result == 0 && !cancel && closed != 0) result = Failure(closed);
    if (result != 0 || cancel) {
        // Whatever was written of it goes; a card that was pulled keeps what it got.
        DlpVFSFileDelete(m_socket, m_nVolRef, path);
        if (m_socket.IsBroken()) return kInstallLinkBroken;
    }
    return result;
}
