// MIDI checks and sound record names on arbitrary bytes.
#include <vector>

#include "formats/midi/midi_sound.h"
#include "fuzz/fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    midi::HasMidiHeader(data, size);
    const std::vector<uint8_t> file(data, data + size);
    if (midi::CheckMidiFile(file) == midi::kOk) {
        const auto record = midi::BuildSoundRecord("fuzz.mid", file);
        if (midi::SoundRecordName(record.data(), record.size()) != "fuzz.mid") __builtin_trap();
    }
    midi::SoundRecordName(data, size);
    return 0;
}
