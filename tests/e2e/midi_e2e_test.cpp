// MIDI files in the install list, written as sound records into the virtual handheld's
// sound database: the checks on the file and their messages, replacing a sound of the same
// name, and handhelds with one or neither of the sound databases.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "formats/midi/midi_sound.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/support/child_process.h"

namespace {

constexpr char kMidiMessage[] =
    "File was in MIDI-format, but\nto big (64 KB)  or\nmore than one channel.";

// A Standard MIDI File of exactly `size` bytes: the header chunk and one track whose
// events are padded with a long text meta event.
std::vector<uint8_t> Midi(size_t size, uint16_t format = 0, uint8_t seed = 0) {
    std::vector<uint8_t> b = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6, uint8_t(format >> 8), uint8_t(format), 0, 1, 0, 96,
        'M', 'T', 'r', 'k', 0, 0, 0, 0};
    const size_t track = size - b.size();
    for (int i = 0; i < 4; ++i) b[18 + size_t(i)] = uint8_t(track >> (24 - 8 * i));
    b.resize(size, 0);
    for (size_t i = 22; i + 4 < size; ++i) b[i] = uint8_t('a' + (i + seed) % 26);
    // The end of the track.
    b[size - 4] = 0;
    b[size - 3] = 0xFF;
    b[size - 2] = 0x2F;
    b[size - 1] = 0;
    return b;
}

// A sound record as the handheld keeps it: "PMrc", data offset, 0, name, NUL, the file.
std::vector<uint8_t> SoundRecord(const std::string& name, const std::vector<uint8_t>& midi) {
    std::vector<uint8_t> r = {'P', 'M', 'r', 'c', uint8_t(name.size() + 7), 0};
    r.insert(r.end(), name.begin(), name.end());
    r.push_back(0);
    r.insert(r.end(), midi.begin(), midi.end());
    return r;
}

pdb::Record Sound(const std::string& name, const std::vector<uint8_t>& midi, uint32_t uid) {
    pdb::Record r;
    r.data = SoundRecord(name, midi);
    r.uid = uid;
    return r;
}

class MidiRun : public e2e::CRunFixture {
  protected:
    // A sound database for the handheld's card.
    void LoadSoundDb(const std::string& dbName, const std::vector<pdb::Record>& sounds) {
        const std::string path = Path(dbName + ".pdb");
        ASSERT_TRUE(
            testdb::WriteRecordDb(path, testdb::Info(dbName, false, "smfr", "psys"), sounds));
        config.loadFiles.push_back(path);
    }
    std::string WriteMidi(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
        testsupport::WriteFile(Path(name), bytes);
        return Path(name);
    }
    std::vector<pdb::Record> SoundsIn(const std::string& dbName) const {
        auto db = m_hh->FindDatabase(dbName);
        return db ? db->records : std::vector<pdb::Record>{};
    }
};

TEST_F(MidiRun, SoundIsWrittenIntoTheSystemDatabase) {
    const auto bell = Midi(300);
    LoadSoundDb("System MIDI Sounds", {Sound("Alarm", Midi(40), 0x1001)});
    Run({WriteMidi("bell.mid", bell)});
    EXPECT_TRUE(view.messages.empty());
    const auto sounds = SoundsIn("System MIDI Sounds");
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_EQ(sounds[1].data, SoundRecord("bell.mid", bell));
    EXPECT_EQ(sounds[1].category, 0);
    EXPECT_TRUE(Requested("WriteRecord", "\"attributes\":64")) << m_hh->RequestsJson();
    EXPECT_FALSE(Requested("CreateDB"));  // the sound database is never made
}

TEST_F(MidiRun, FormatOneIsRefusedWithTheMidiMessage) {
    LoadSoundDb("System MIDI Sounds", {});
    Run({WriteMidi("tracks.mid", Midi(2048, 1)), WriteMidi("ok.mid", Midi(100))});
    EXPECT_EQ(view.codes, std::vector<int>{25});
    EXPECT_EQ(view.messages, std::vector<std::string>{kMidiMessage});
    const auto sounds = SoundsIn("System MIDI Sounds");
    ASSERT_EQ(sounds.size(), 1u);  // the next file still arrived
    EXPECT_EQ(sounds[0].data, SoundRecord("ok.mid", Midi(100)));
    EXPECT_EQ(failed, 0);
}

// 65,535 bytes fail the size check; 65,534 pass it but make a record over what one write
// carries, which the user is told like a file too big, never silently dropped. The largest
// file whose record one write carries still installs.
TEST_F(MidiRun, FilesTooBigForOneRecordAreReported) {
    LoadSoundDb("System MIDI Sounds", {});
    const size_t limit = midi::kMaxWriteRecordData;
    const size_t fits = limit - 7 - std::string("fits.mid").size();
    Run({WriteMidi("max.mid", Midi(65535)), WriteMidi("less.mid", Midi(65534)),
         WriteMidi("over.mid", Midi(fits + 1)), WriteMidi("fits.mid", Midi(fits))});
    EXPECT_EQ(view.codes, (std::vector<int>{25, 25, 25}));
    EXPECT_EQ(view.messages.size(), 3u);
    const auto sounds = SoundsIn("System MIDI Sounds");
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_EQ(sounds[0].data.size(), limit);
    EXPECT_EQ(sounds[0].data, SoundRecord("fits.mid", Midi(fits)));
    EXPECT_EQ(CountRequests("WriteRecord"), 1);
}

TEST_F(MidiRun, SameNameTwiceLeavesOneRecordWithTheSecondData) {
    LoadSoundDb("System MIDI Sounds", {Sound("chime.mid", Midi(50), 0x2001)});
    const auto first = Midi(400, 0, 1);
    const auto second = Midi(500, 0, 2);
    Run({WriteMidi("one/alarm.mid", first), WriteMidi("two/alarm.mid", second)});
    EXPECT_TRUE(view.messages.empty());
    const auto sounds = SoundsIn("System MIDI Sounds");
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_EQ(sounds[0].data, SoundRecord("chime.mid", Midi(50)));
    EXPECT_EQ(sounds[1].data, SoundRecord("alarm.mid", second));
    EXPECT_EQ(CountRequests("WriteRecord"), 2);
}

TEST_F(MidiRun, NameDifferingInCaseAddsARecord) {
    const auto old = Midi(60, 0, 3);
    LoadSoundDb("System MIDI Sounds", {Sound("alarm.mid", old, 0x3001)});
    const auto upper = Midi(70, 0, 4);
    Run({WriteMidi("Alarm.mid", upper)});
    const auto sounds = SoundsIn("System MIDI Sounds");
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_EQ(sounds[0].data, SoundRecord("alarm.mid", old));
    EXPECT_EQ(sounds[0].uid, 0x3001u);
    EXPECT_EQ(sounds[1].data, SoundRecord("Alarm.mid", upper));
}

TEST_F(MidiRun, HandheldWithOnlyTheOlderDatabase) {
    LoadSoundDb("MIDI Sounds", {Sound("old.mid", Midi(30), 0x4001)});
    const auto tune = Midi(222);
    Run({WriteMidi("tune.mid", tune)});
    EXPECT_TRUE(view.messages.empty());
    const auto sounds = SoundsIn("MIDI Sounds");
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_EQ(sounds[1].data, SoundRecord("tune.mid", tune));
    EXPECT_FALSE(m_hh->FindDatabase("System MIDI Sounds"));
}

TEST_F(MidiRun, HeaderLengthOtherThanSixIsNoMidi) {
    LoadSoundDb("System MIDI Sounds", {});
    auto bytes = Midi(100);
    bytes[7] = 7;
    Run({WriteMidi("odd.mid", bytes)});
    EXPECT_EQ(view.codes, std::vector<int>{18});
    EXPECT_EQ(view.messages, std::vector<std::string>{"unknown format of file"});
    EXPECT_FALSE(Requested("OpenDB"));
}

// Without either sound database the sound cannot be stored; the run says nothing about it
// and counts no failure.
TEST_F(MidiRun, HandheldWithNeitherDatabaseTakesNothing) {
    Run({WriteMidi("lost.mid", Midi(100))});
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(CountRequests("OpenDB"), 2);
    EXPECT_FALSE(Requested("WriteRecord"));
    EXPECT_FALSE(Requested("CreateDB"));
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(view.statuses.back().rfind("Ready (", 0), 0u) << view.statuses.back();
}

// Real files no one here wrote: format 0 installs (the checks look at the header only, so
// a format 0 file with a damaged track installs as well); formats 1 and 2 give 25; text is
// no MIDI file.
TEST_F(MidiRun, SampleFiles) {
    const std::filesystem::path dir = std::filesystem::path(CC_SHARED_DIR) / "samples/midi";
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no samples at " << dir;
    const std::map<std::string, int> expected = {
        {"mma_drum_fmt0.mid", 0},
        {"mma_rec1_fmt0.mid", 0},
        {"test-c-major-scale.mid", 0},
        {"test-multichannel-chords-0.mid", 0},
        {"test-running-status-sysex.mid", 0},
        {"test-empty.mid", 0},
        {"test-non-midi-track.mid", 0},
        {"test-2-tracks-type-0.mid", 0},
        {"test-corrupt-file-missing-byte.mid", 0},
        {"test-multichannel-chords-1.mid", 25},
        {"test-2-tracks-type-2.mid", 25},
        {"openmsx_train_filled_with_cash_fmt1.mid", 25},
        {"pg44157_cocorico_fmt1.mid", 25},
        {"test-not-a-midi-file.mid", 18},
    };
    std::vector<std::string> files;
    std::vector<int> codes;
    std::vector<std::string> installed;
    for (const auto& [name, code] : expected) {
        if (!std::filesystem::exists(dir / name)) continue;
        files.push_back((dir / name).string());
        if (code != 0) codes.push_back(code);
        if (code == 0) installed.push_back(name);
    }
    ASSERT_FALSE(files.empty());
    LoadSoundDb("System MIDI Sounds", {});
    Run(files);
    EXPECT_EQ(view.codes, codes);
    const auto sounds = SoundsIn("System MIDI Sounds");
    ASSERT_EQ(sounds.size(), installed.size());
    for (size_t i = 0; i < installed.size(); ++i) {
        const std::string bytes = testsupport::Slurp((dir / installed[i]).string());
        // The handheld keeps a sound's name in 31 characters.
        EXPECT_EQ(sounds[i].data, SoundRecord(installed[i].substr(0, 31),
                                              std::vector<uint8_t>(bytes.begin(), bytes.end())))
            << installed[i];
    }
}

}  // namespace
