#include "engine/midi_install.h"

#include <string>
#include <vector>

#include "formats/midi/midi_sound.h"
#include "hotsync/hotsync.h"
#include "session/device_session.h"

namespace {

// The sound database on the handheld, through the session's link.
class CSessionSoundDatabase final : public midi::ISoundDatabase {
  public:
    explicit CSessionSoundDatabase(hotsync::CSocket& socket) : m_socket(socket) {}

    int OpenDb(const std::string& name, int& handle) override {
        handle = -1;
        return hotsync::DlpOpenDB(m_socket, 0, hotsync::kOpenReadWrite, name, handle);
    }
    int ReadRecordByIndex(int handle, int index, std::vector<uint8_t>& data,
                          uint32_t& uid) override {
        hotsync::RecordData record;
        const int r = hotsync::DlpReadRecordByIndex(m_socket, handle, index, record);
        if (r != 0) return r;
        data = std::move(record.data);
        uid = record.id;
        return 0;
    }
    int WriteRecord(int handle, uint32_t uid, uint8_t attributes, uint8_t category,
                    const std::vector<uint8_t>& data) override {
        return hotsync::DlpWriteRecord(m_socket, handle, attributes, uid, category, data);
    }
    int CloseDb(int handle) override { return hotsync::DlpCloseDB(m_socket, handle); }
    size_t MaxRecordSize() const override {
        const uint32_t limit = m_socket.MaxRecordSize();
        return limit != 0 && limit < midi::kMaxWriteRecordData ? limit : midi::kMaxWriteRecordData;
    }

  private:
    hotsync::CSocket& m_socket;
};

}  // namespace

int InstallMidiFile(CDeviceSession& session, const char* path) {
    hotsync::CSocket* socket = session.Socket();
    if (!socket || !path) return -18;
    CSessionSoundDatabase db(*socket);
    const int r = midi::InstallMidiSound(db, path);
    // A link that broke under the install ends the run like a database's would.
    if (r != 0 && session.IsLinkBroken()) return kInstallLinkBroken;
    return r;
}
