// MIDI checks, sound records and their names on arbitrary bytes, and the install of a sound
// into a sound database whose records are hostile too.
#include <deque>

#include "formats/midi/midi_sound.h"
#include "fuzz/fuzz_target.h"

namespace {

// A sound database with the given records, as the handheld would hand them out.
class CSoundDb final : public midi::ISoundDatabase {
  public:
    explicit CSoundDb(std::deque<std::vector<uint8_t>> records) : m_records(std::move(records)) {}
    int OpenDb(const std::string& name, int& handle) override {
        handle = name == midi::kSystemSoundDb ? 1 : -1;
        return handle == 1 ? 0 : midi::kDlpNotFound;
    }
    int ReadRecordByIndex(int, int index, std::vector<uint8_t>& data, uint32_t& uid) override {
        if (index < 0 || size_t(index) >= m_records.size()) return midi::kDlpNotFound;
        data = m_records[size_t(index)];
        uid = uint32_t(index) + 1;
        return 0;
    }
    int WriteRecord(int, uint32_t, uint8_t, uint8_t, const std::vector<uint8_t>& data) override {
        if (data.size() > MaxRecordSize()) fuzz::Fail("a record over the write limit was sent");
        return 0;
    }
    int CloseDb(int) override { return 0; }

  private:
    std::deque<std::vector<uint8_t>> m_records;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    midi::HasMidiHeader(data, size);
    midi::SoundRecordName(data, size);
    const std::vector<uint8_t> file(data, data + size);
    if (midi::CheckMidiFile(file) == midi::kOk) {
        const auto record = midi::BuildSoundRecord("fuzz.mid", file);
        if (midi::SoundRecordName(record.data(), record.size()) != "fuzz.mid") {
            fuzz::Fail("a sound record does not carry its name");
        }
    }
    // The same bytes as the file to install and, cut in pieces, as the database's records.
    const std::string path = fuzz::WriteInput(data, size, "fuzz.mid");
    std::deque<std::vector<uint8_t>> records;
    for (size_t at = 0; at < size && records.size() < 8; at += 97) {
        records.emplace_back(data + at, data + std::min(size, at + 97));
    }
    CSoundDb db(std::move(records));
    midi::InstallMidiSound(db, path);
    return 0;
}
