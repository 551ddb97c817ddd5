// MIDI sound installation: the checks, the sound name, the record layout, and the install
// sequence against a fake handheld sound database.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/midi/midi_sound.h"
#include "tests/support/temp_folder.h"

namespace {

using Bytes = std::vector<uint8_t>;

class CTempDir {
  public:
    std::string operator/(const std::string& name) const { return m_folder.File(name); }

  private:
    testsupport::CTempFolder m_folder{"cc_midi_test"};
};

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A format-0 file of exactly size bytes (at least 22): header, one track, filler bytes.
Bytes MidiFile(size_t size, uint16_t format = 0, uint8_t fill = 0x90) {
    Bytes f = {'M', 'T', 'h', 'd', 0,   0,   0,   6,  uint8_t(format >> 8), uint8_t(format),
               0,   1,   0,   96,  'M', 'T', 'r', 'k'};
    const uint32_t trackLength = uint32_t(size - 22);
    for (int shift = 24; shift >= 0; shift -= 8) f.push_back(uint8_t(trackLength >> shift));
    f.resize(size, fill);
    return f;
}

// ---- a handheld's sound databases --------------------------------------------------------

struct FakeRecord {
    uint32_t uid = 0;
    uint8_t attributes = 0;
    uint8_t category = 0;
    Bytes data;
};

class CFakeHandheld : public midi::ISoundDatabase {
  public:
    std::map<std::string, std::vector<FakeRecord>> dbs;
    std::map<std::string, int> openErrors;  // forced answers of OpenDb by name
    int readErrorAt = -1;                   // ReadRecordByIndex fails from this index on
    int writeError = 0;
    int writeAnswer = 0;  // returned by a successful write
    size_t maxRecordSize = midi::kMaxWriteRecordData;
    std::vector<std::string> opened;
    int openCount = 0;
    int closeCount = 0;
    int writes = 0;

    int OpenDb(const std::string& name, int& handle) override {
        opened.push_back(name);
        if (openErrors.count(name)) return openErrors[name];
        auto it = dbs.find(name);
        if (it == dbs.end()) return midi::kDlpNotFound;
        m_handles[++m_nLastHandle] = name;
        handle = m_nLastHandle;
        ++openCount;
        return 0;
    }
    int ReadRecordByIndex(int handle, int index, Bytes& data, uint32_t& uid) override {
        if (readErrorAt >= 0 && index >= readErrorAt) return -200;
        if (!m_handles.count(handle)) return kNoneOpen;
        auto& recs = Db(handle);
        if (index < 0 || size_t(index) >= recs.size()) return midi::kDlpNotFound;
        data = recs[size_t(index)].data;
        uid = recs[size_t(index)].uid;
        return 0;
    }
    int WriteRecord(int handle, uint32_t uid, uint8_t attributes, uint8_t category,
                    const Bytes& data) override {
        ++writes;
        if (writeError) return writeError;
        if (!m_handles.count(handle)) return kNoneOpen;
        auto& recs = Db(handle);
        if (uid != 0) {
            for (auto& r : recs) {
                if (r.uid == uid) {
                    r = {uid, attributes, category, data};
                    return writeAnswer;
                }
            }
        }
        recs.push_back({uid ? uid : ++m_nLastUid, attributes, category, data});
        return writeAnswer;
    }
    int CloseDb(int handle) override {
        ++closeCount;
        return m_handles.erase(handle) ? 0 : kNoneOpen;
    }
    size_t MaxRecordSize() const override { return maxRecordSize; }

    std::vector<FakeRecord>& Db(int handle) { return dbs[m_handles.at(handle)]; }

  private:
    static constexpr int kNoneOpen = -6;
    std::map<int, std::string> m_handles;
    int m_nLastHandle = 0;
    uint32_t m_nLastUid = 0x1000;
};

// ---- the checks --------------------------------------------------------------------------

TEST(MidiCheck, HeaderFormatAndSize) {
    EXPECT_EQ(midi::CheckMidiFile(MidiFile(200)), midi::kOk);
    EXPECT_EQ(midi::CheckMidiFile(MidiFile(200, 1)), midi::kErrNotInstallable);
    EXPECT_EQ(midi::CheckMidiFile(MidiFile(200, 2)), midi::kErrNotInstallable);
    EXPECT_EQ(midi::CheckMidiFile(MidiFile(200, 0x0100)), midi::kErrNotInstallable);
    EXPECT_EQ(midi::CheckMidiFile(MidiFile(65534)), midi::kOk);
    EXPECT_EQ(midi::CheckMidiFile(MidiFile(65535)), midi::kErrNotInstallable);
    EXPECT_EQ(midi::CheckMidiFile(MidiFile(65542)), midi::kErrNotInstallable);
}

TEST(MidiCheck, OnlyTheLowByteOfTheHeaderLengthCounts) {
    Bytes f = MidiFile(100);
    f[7] = 7;
    EXPECT_EQ(midi::CheckMidiFile(f), midi::kErrNotMidi);
    f[7] = 0;
    EXPECT_EQ(midi::CheckMidiFile(f), midi::kErrNotMidi);
    f[7] = 6;
    f[4] = 0x12;
    f[6] = 0x01;  // a length of 0x12000106 still ends in 6
    EXPECT_EQ(midi::CheckMidiFile(f), midi::kOk);
    f[0] = 'm';
    EXPECT_EQ(midi::CheckMidiFile(f), midi::kErrNotMidi);
}

TEST(MidiCheck, TooShortForAHeaderIsNotMidi) {
    const Bytes full = MidiFile(100);
    for (size_t n = 0; n < midi::kMinHeaderBytes; ++n) {
        EXPECT_EQ(midi::CheckMidiFile(Bytes(full.begin(), full.begin() + long(n))),
                  midi::kErrNotMidi)
            << n;
    }
    EXPECT_EQ(midi::CheckMidiFile(Bytes(full.begin(), full.begin() + 10)), midi::kOk);
    EXPECT_FALSE(midi::HasMidiHeader(nullptr, 100));
}

TEST(MidiCheck, SampleFiles) {
    const std::string folder = std::string(CC_SHARED_DIR) + "/samples/midi/";
    // Format as the samples' README gives it. The checks read only the header, so the two
    // damaged format-0 files pass them as well.
    const std::map<std::string, int> expected = {
        {"mma_drum_fmt0.mid", midi::kOk},
        {"mma_rec1_fmt0.mid", midi::kOk},
        {"test-c-major-scale.mid", midi::kOk},
        {"test-multichannel-chords-0.mid", midi::kOk},
        {"test-running-status-sysex.mid", midi::kOk},
        {"test-empty.mid", midi::kOk},
        {"test-non-midi-track.mid", midi::kOk},
        {"test-2-tracks-type-0.mid", midi::kOk},
        {"test-corrupt-file-missing-byte.mid", midi::kOk},
        {"test-multichannel-chords-1.mid", midi::kErrNotInstallable},
        {"test-2-tracks-type-2.mid", midi::kErrNotInstallable},
        {"openmsx_train_filled_with_cash_fmt1.mid", midi::kErrNotInstallable},
        {"pg44157_cocorico_fmt1.mid", midi::kErrNotInstallable},
        {"test-not-a-midi-file.mid", midi::kErrNotMidi},
    };
    int found = 0;
    for (const auto& [name, result] : expected) {
        Bytes file;
        if (midi::ReadMidiFile(folder + name, file) != midi::kOk) continue;
        ++found;
        EXPECT_EQ(midi::CheckMidiFile(file), result) << name;
        EXPECT_EQ(file, ReadFile(folder + name)) << name;
    }
    if (found == 0) GTEST_SKIP() << "no sample MIDI files in " << folder;
}

TEST(MidiCheck, ReadStopsAtTheReadLimitAndFailsOnNonFiles) {
    CTempDir dir;
    WriteFile(dir / "big.mid", MidiFile(100000));
    Bytes file;
    ASSERT_EQ(midi::ReadMidiFile(dir / "big.mid", file), midi::kOk);
    EXPECT_EQ(file.size(), midi::kReadSize);
    EXPECT_EQ(midi::CheckMidiFile(file), midi::kErrNotInstallable);

    EXPECT_EQ(midi::ReadMidiFile(dir / "missing.mid", file), midi::kErrOpen);
    EXPECT_EQ(midi::ReadMidiFile(dir / "", file), midi::kErrOpen);  // the folder itself
    EXPECT_EQ(midi::ReadMidiFile("", file), midi::kErrOpen);
}

// ---- name and record ---------------------------------------------------------------------

TEST(MidiName, TakenAfterTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(midi::SoundNameFromPath("/home/u/sounds/alarm.mid"), "alarm.mid");
    EXPECT_EQ(midi::SoundNameFromPath("C:\\Palm\\Alarm.MID"), "Alarm.MID");
    EXPECT_EQ(midi::SoundNameFromPath("a/b\\c.mid"), "c.mid");
    EXPECT_EQ(midi::SoundNameFromPath("a\\b/c.mid"), "c.mid");
    EXPECT_EQ(midi::SoundNameFromPath("plain.mid"), "plain.mid");
    EXPECT_EQ(midi::SoundNameFromPath("dir/"), "");
}

TEST(MidiName, CutToWhatTheHandheldKeeps) {
    const std::string longName(300, 'n');
    EXPECT_EQ(midi::SoundNameFromPath("/x/" + longName), std::string(31, 'n'));
    EXPECT_EQ(midi::SoundNameFromPath(std::string(31, 'k')), std::string(31, 'k'));
}

TEST(MidiRecord, LayoutMatchesTheHandheldsFormat) {
    const Bytes file = MidiFile(40);
    const Bytes record = midi::BuildSoundRecord("Alarm", file);
    const Bytes start = {0x50, 0x4D, 0x72, 0x63, 0x0C, 0x00, 0x41, 0x6C,
                         0x61, 0x72, 0x6D, 0x00, 0x4D, 0x54, 0x68, 0x64};
    ASSERT_EQ(record.size(), 5 + 7 + file.size());
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 16), start);
    EXPECT_EQ(Bytes(record.begin() + 12, record.end()), file);
    EXPECT_EQ(midi::SoundRecordName(record.data(), record.size()), "Alarm");
}

TEST(MidiRecord, LongNameKeepsTheDataOffsetInOneByte) {
    const Bytes file = MidiFile(30);
    const Bytes record = midi::BuildSoundRecord(std::string(300, 'z'), file);
    EXPECT_EQ(record[4], 31 + 7);
    ASSERT_EQ(record.size(), 38 + file.size());
    EXPECT_EQ(record[37], 0);
    EXPECT_EQ(Bytes(record.begin() + record[4], record.end()), file);

    const Bytes empty = midi::BuildSoundRecord("", file);
    EXPECT_EQ(empty[4], 7);
    EXPECT_EQ(empty[6], 0);
}

TEST(MidiRecord, NameOfForeignOrDamagedRecords) {
    const uint8_t shortRec[] = {'P', 'M', 'r', 'c', 7, 0};
    EXPECT_EQ(midi::SoundRecordName(shortRec, sizeof shortRec), "");
    const uint8_t noNul[] = {'P', 'M', 'r', 'c', 7, 0, 'a', 'b'};
    EXPECT_EQ(midi::SoundRecordName(noNul, sizeof noNul), "ab");
    EXPECT_EQ(midi::SoundRecordName(nullptr, 50), "");
}

// ---- installing --------------------------------------------------------------------------

class MidiInstall : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const Bytes& bytes) {
        const std::string path = m_dir / name;
        WriteFile(path, bytes);
        return path;
    }
    static std::string NameOf(const FakeRecord& r) {
        return midi::SoundRecordName(r.data.data(), r.data.size());
    }
    static Bytes MidiOf(const FakeRecord& r) {
        return Bytes(r.data.begin() + r.data.at(4), r.data.end());
    }

    CTempDir m_dir;
    CFakeHandheld m_hh;
};

TEST_F(MidiInstall, NewSoundGoesToTheSystemDatabase) {
    m_hh.dbs[midi::kSystemSoundDb] = {};
    m_hh.dbs[midi::kSoundDb] = {};
    const Bytes file = MidiFile(500);
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("alarm.mid", file)), midi::kOk);
    const auto& recs = m_hh.dbs[midi::kSystemSoundDb];
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].attributes, 0x40);
    EXPECT_EQ(recs[0].category, 0);
    EXPECT_EQ(NameOf(recs[0]), "alarm.mid");
    EXPECT_EQ(MidiOf(recs[0]), file);
    EXPECT_TRUE(m_hh.dbs[midi::kSoundDb].empty());
    EXPECT_EQ(m_hh.closeCount, m_hh.openCount);
}

TEST_F(MidiInstall, SameNameTwiceReplacesTheRecord) {
    m_hh.dbs[midi::kSystemSoundDb] = {
        {0x77, 0, 0, midi::BuildSoundRecord("other.mid", MidiFile(30))}};
    const Bytes first = MidiFile(300, 0, 0x91), second = MidiFile(400, 0, 0x92);
    ASSERT_EQ(midi::InstallMidiSound(m_hh, Write("alarm.mid", first)), midi::kOk);
    ASSERT_EQ(midi::InstallMidiSound(m_hh, Write("alarm.mid", second)), midi::kOk);
    const auto& recs = m_hh.dbs[midi::kSystemSoundDb];
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(NameOf(recs[0]), "other.mid");
    EXPECT_EQ(NameOf(recs[1]), "alarm.mid");
    EXPECT_EQ(MidiOf(recs[1]), second);
    EXPECT_EQ(m_hh.closeCount, 2);
}

TEST_F(MidiInstall, NameMatchIsCaseExact) {
    m_hh.dbs[midi::kSystemSoundDb] = {};
    ASSERT_EQ(midi::InstallMidiSound(m_hh, Write("alarm.mid", MidiFile(100))), midi::kOk);
    std::filesystem::create_directory(platform::ToFsPath(m_dir / "up"));
    ASSERT_EQ(midi::InstallMidiSound(m_hh, Write("up/Alarm.mid", MidiFile(120))), midi::kOk);
    const auto& recs = m_hh.dbs[midi::kSystemSoundDb];
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(NameOf(recs[0]), "alarm.mid");
    EXPECT_EQ(NameOf(recs[1]), "Alarm.mid");
    EXPECT_NE(recs[0].uid, recs[1].uid);
}

TEST_F(MidiInstall, FirstOfSeveralEqualNamesIsReplaced) {
    const Bytes old = midi::BuildSoundRecord("ring.mid", MidiFile(30));
    m_hh.dbs[midi::kSystemSoundDb] = {{5, 0, 0, old}, {6, 0, 0, old}};
    const Bytes file = MidiFile(64);
    ASSERT_EQ(midi::InstallMidiSound(m_hh, Write("ring.mid", file)), midi::kOk);
    const auto& recs = m_hh.dbs[midi::kSystemSoundDb];
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(MidiOf(recs[0]), file);
    EXPECT_EQ(recs[1].data, old);
}

TEST_F(MidiInstall, LongNamesMatchOnTheStoredName) {
    m_hh.dbs[midi::kSystemSoundDb] = {};
    const std::string name = std::string(40, 'w') + ".mid";
    ASSERT_EQ(midi::InstallMidiSound(m_hh, Write(name, MidiFile(50, 0, 1))), midi::kOk);
    ASSERT_EQ(midi::InstallMidiSound(m_hh, Write(name, MidiFile(60, 0, 2))), midi::kOk);
    const auto& recs = m_hh.dbs[midi::kSystemSoundDb];
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(NameOf(recs[0]), std::string(31, 'w'));
    EXPECT_EQ(MidiOf(recs[0]), MidiFile(60, 0, 2));
}

TEST_F(MidiInstall, OnlyMidiSoundsPresent) {
    m_hh.dbs[midi::kSoundDb] = {};
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("a.mid", MidiFile(80))), midi::kOk);
    EXPECT_EQ(m_hh.dbs[midi::kSoundDb].size(), 1u);
    EXPECT_EQ(m_hh.dbs.count(midi::kSystemSoundDb), 0u);
    EXPECT_EQ((std::vector<std::string>{midi::kSystemSoundDb, midi::kSoundDb}), m_hh.opened);
    EXPECT_EQ(m_hh.closeCount, 1);
}

TEST_F(MidiInstall, NeitherDatabaseIsDoneWithoutCreating) {
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("a.mid", MidiFile(80))), midi::kOk);
    EXPECT_TRUE(m_hh.dbs.empty());
    EXPECT_EQ(m_hh.writes, 0);
    EXPECT_EQ(m_hh.closeCount, 0);
}

TEST_F(MidiInstall, OpenWithoutHandleTriesTheOtherDatabase) {
    m_hh.dbs[midi::kSoundDb] = {};
    m_hh.openErrors[midi::kSystemSoundDb] = 0;  // "success" without a handle
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("a.mid", MidiFile(80))), midi::kOk);
    EXPECT_EQ(m_hh.dbs[midi::kSoundDb].size(), 1u);
}

TEST_F(MidiInstall, PositiveAnswersCountAsSuccess) {
    m_hh.dbs[midi::kSystemSoundDb] = {};
    m_hh.writeAnswer = 12;  // e.g. a byte count
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("a.mid", MidiFile(80))), midi::kOk);
    EXPECT_EQ(m_hh.dbs[midi::kSystemSoundDb].size(), 1u);
}

TEST_F(MidiInstall, OtherOpenErrorOfTheSystemDatabaseStops) {
    m_hh.dbs[midi::kSystemSoundDb] = {};
    m_hh.dbs[midi::kSoundDb] = {};
    m_hh.openErrors[midi::kSystemSoundDb] = -7;  // open by someone else
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("a.mid", MidiFile(80))), midi::kOk);
    EXPECT_EQ(m_hh.writes, 0);
    EXPECT_EQ(m_hh.opened.size(), 1u);
}

TEST_F(MidiInstall, RefusedFilesTouchNothing) {
    m_hh.dbs[midi::kSystemSoundDb] = {};
    Bytes notMidi = MidiFile(100);
    notMidi[7] = 5;
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("f1.mid", MidiFile(2048, 1))),
              midi::kErrNotInstallable);
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("big.mid", MidiFile(65535))),
              midi::kErrNotInstallable);
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("b7.mid", notMidi)), midi::kErrNotMidi);
    EXPECT_EQ(midi::InstallMidiSound(m_hh, m_dir / "missing.mid"), midi::kErrOpen);
    EXPECT_TRUE(m_hh.opened.empty());
}

TEST_F(MidiInstall, RecordOverTheWriteLimitIsReportedAsTooBig) {
    m_hh.dbs[midi::kSystemSoundDb] = {};
    // "s.mid" makes a record of file size + 12 bytes.
    const size_t largest = midi::kMaxWriteRecordData - 12;
    EXPECT_EQ(midi::CheckMidiFile(MidiFile(65534)), midi::kOk);
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("s.mid", MidiFile(65534))),
              midi::kErrNotInstallable);
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("s.mid", MidiFile(largest + 1))),
              midi::kErrNotInstallable);
    EXPECT_TRUE(m_hh.opened.empty());
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("s.mid", MidiFile(largest))), midi::kOk);
    ASSERT_EQ(m_hh.dbs[midi::kSystemSoundDb].size(), 1u);
    EXPECT_EQ(m_hh.dbs[midi::kSystemSoundDb][0].data.size(), midi::kMaxWriteRecordData);

    // A handheld that told a smaller limit gets no record over it.
    m_hh.maxRecordSize = 65505;
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("s.mid", MidiFile(65505 - 11))),
              midi::kErrNotInstallable);
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("s.mid", MidiFile(65505 - 12))), midi::kOk);
}

TEST_F(MidiInstall, RefusedWriteIsReportedAndTheDatabaseClosed) {
    m_hh.dbs[midi::kSystemSoundDb] = {};
    m_hh.writeError = -16;  // not enough space
    EXPECT_EQ(midi::InstallMidiSound(m_hh, Write("a.mid", MidiFile(100))), -16);
    EXPECT_EQ(m_hh.closeCount, 1);
    EXPECT_TRUE(m_hh.dbs[midi::kSystemSoundDb].empty());
}

TEST_F(MidiInstall, SearchEndsAtTheFirstFailedRead) {
    const Bytes old = midi::BuildSoundRecord("x.mid", MidiFile(30));
    m_hh.dbs[midi::kSystemSoundDb] = {{1, 0, 0, {'j', 'u', 'n', 'k'}}, {2, 0, 0, old}};
    m_hh.readErrorAt = 1;
    ASSERT_EQ(midi::InstallMidiSound(m_hh, Write("x.mid", MidiFile(50))), midi::kOk);
    EXPECT_EQ(m_hh.dbs[midi::kSystemSoundDb].size(), 3u);  // not found: a new record
    m_hh.readErrorAt = -1;
    EXPECT_EQ(midi::FindSoundRecord(m_hh, 99, "x.mid"), 0u);  // closed handle: reads fail
}

TEST_F(MidiInstall, SampleFormatZeroFilesInstallByteForByte) {
    const std::string folder = std::string(CC_SHARED_DIR) + "/samples/midi/";
    m_hh.dbs[midi::kSystemSoundDb] = {};
    int found = 0;
    for (const char* name : {"mma_drum_fmt0.mid", "mma_rec1_fmt0.mid", "test-c-major-scale.mid"}) {
        const Bytes file = ReadFile(folder + name);
        if (file.empty()) continue;
        ++found;
        ASSERT_EQ(midi::InstallMidiSound(m_hh, folder + name), midi::kOk) << name;
        const FakeRecord& r = m_hh.dbs[midi::kSystemSoundDb].back();
        EXPECT_EQ(NameOf(r), name);
        EXPECT_EQ(MidiOf(r), file);
    }
    if (found == 0) GTEST_SKIP() << "no sample MIDI files in " << folder;
    EXPECT_EQ(midi::InstallMidiSound(m_hh, folder + "pg44157_cocorico_fmt1.mid"),
              midi::kErrNotInstallable);
}

TEST(MidiHostile, RandomHeadersNeverCrash) {
    CTempDir dir;
    CFakeHandheld hh;
    hh.dbs[midi::kSystemSoundDb] = {};
    uint32_t seed = 7;
    for (int i = 0; i < 200; ++i) {
        Bytes f = MidiFile(22 + (i * 37) % 3000);
        for (size_t k = 0; k < 12; ++k) {
            seed = seed * 1103515245u + 12345u;
            if (seed & 0x100) f[k] = uint8_t(seed >> 16);
        }
        f.resize(seed % 2 ? f.size() : (seed >> 8) % 16);
        WriteFile(dir / "h.mid", f);
        const int rc = midi::InstallMidiSound(hh, dir / "h.mid");
        EXPECT_EQ(rc, midi::CheckMidiFile(f));
    }
    EXPECT_EQ(hh.closeCount, hh.openCount);
}

}  // namespace
