// Framing, checksums and layouts against the recorded vectors of real sessions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hotsync/cmp.h"
#include "hotsync/dlp.h"
#include "hotsync/padp.h"
#include "hotsync/slp.h"

namespace hotsync {
namespace {

std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) digits.push_back(c);
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        out.push_back(uint8_t(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// One PADP frame built by our encoders, for comparison with a recorded frame.
std::vector<uint8_t> PadpFrame(uint8_t xid, padp::Header header, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> body = wire::Encode(header);
    body.insert(body.end(), data.begin(), data.end());
    slp::Header slpHeader;
    slpHeader.xid = xid;
    return slp::EncodeFrame(slpHeader, body);
}

TEST(SlpCrc, MatchesCheckValue) {
    const std::string text = "123456789";
    EXPECT_EQ(slp::Crc16({reinterpret_cast<const uint8_t*>(text.data()), text.size()}), 0x31C3);
    EXPECT_EQ(slp::Crc16({}), 0x0000);
}

TEST(SlpFraming, EncodesRecordedFrames) {
    // The handheld's wakeup, our ACK of it, and an INIT offering 115,200 with long form.
    EXPECT_EQ(PadpFrame(0xFF, {padp::kTypeData, 0xC0, 10},
                        wire::Encode(cmp::Packet{1, 0x10, 1, 3, 0, 115200})),
              Hex("BE EF ED 03 03 02 00 0E FF AF 01 C0 00 0A 01 10 01 03 00 00 00 01 C2 00 6D 2E"));
    EXPECT_EQ(PadpFrame(0xFF, {padp::kTypeAck, 0xC0, 10}, {}),
              Hex("BE EF ED 03 03 02 00 04 FF A5 02 C0 00 0A 1A 85"));
    EXPECT_EQ(PadpFrame(0xFF, {padp::kTypeData, 0xC0, 10},
                        wire::Encode(cmp::Packet{2, 0x90, 1, 1, 0, 115200})),
              Hex("BE EF ED 03 03 02 00 0E FF AF 01 C0 00 0A 02 90 01 01 00 00 00 01 C2 00 03 B0"));
    EXPECT_EQ(PadpFrame(0x01, {padp::kTypeData, 0xC0, 8}, dlp::Encode(dlp::ReadSysInfoRequest{})),
              Hex("BE EF ED 03 03 02 00 0C 01 AF 01 C0 00 08 12 01 20 04 00 01 00 04 1D 8B"));
}

TEST(SlpFraming, LongFormAckDecodes) {
    slp::CReceiver receiver;
    const auto bytes = Hex("BE EF ED 03 03 02 00 06 01 A9 02 D0 00 00 00 08 28 96");
    receiver.Feed(bytes.data(), bytes.size());
    slp::Frame frame;
    ASSERT_TRUE(receiver.Next(frame));
    padp::Header header;
    ASSERT_TRUE(wire::Decode(frame.body, header));
    EXPECT_EQ(header.type, padp::kTypeAck);
    EXPECT_EQ(header.flags, 0xD0);
    EXPECT_EQ(header.sizeOrOffset, 8u);
    EXPECT_EQ(frame.header.xid, 0x01);
    EXPECT_EQ(wire::Encode(header), Hex("02 D0 00 00 00 08"));
}

class SlpReceiverTest : public ::testing::Test {
  protected:
    void Feed(const std::vector<uint8_t>& bytes) { receiver.Feed(bytes.data(), bytes.size()); }
    int CountFrames() {
        int n = 0;
        slp::Frame frame;
        while (receiver.Next(frame)) ++n;
        return n;
    }
    const std::vector<uint8_t> good = Hex("BE EF ED 03 03 02 00 04 FF A5 02 C0 00 0A 1A 85");
    slp::CReceiver receiver;
};

TEST_F(SlpReceiverTest, SkipsNoiseAndPartialSignatures) {
    Feed(Hex("00 BE EF 13 BE BE EF"));
    Feed(good);
    Feed(Hex("EF ED"));  // a signature cut off at the end stays buffered
    EXPECT_EQ(CountFrames(), 1);
    EXPECT_EQ(receiver.Dropped(), 0);
}

TEST_F(SlpReceiverTest, DropsAndCountsDamagedFrames) {
    auto badChecksum = good;
    badChecksum[9] ^= 0x01;
    auto badCrc = good;
    badCrc.back() ^= 0xFF;
    auto badBody = good;
    badBody[12] ^= 0x40;
    Feed(badChecksum);
    Feed(badCrc);
    Feed(badBody);
    Feed(good);
    EXPECT_EQ(CountFrames(), 1);
    EXPECT_EQ(receiver.Dropped(), 3);
}

TEST_F(SlpReceiverTest, RefusesImpossibleLengthWithoutWaitingForIt) {
    // A header with a valid checksum announcing 60,000 body bytes must not make the
    // receiver wait for them: the good frame behind it is found at once.
    std::vector<uint8_t> huge = {0xBE, 0xEF, 0xED, 3, 3, 2, 0xEA, 0x60, 7, 0};
    unsigned sum = 0;
    for (int i = 0; i < 9; ++i) sum += huge[size_t(i)];
    huge[9] = uint8_t(sum);
    Feed(huge);
    Feed(good);
    EXPECT_EQ(CountFrames(), 1);
    EXPECT_EQ(receiver.Dropped(), 1);
}

TEST_F(SlpReceiverTest, TruncatedFrameIsFoundBehindByItsSuccessor) {
    // A frame cut short and then a retransmission of it: the cut copy is dropped.
    Feed(std::vector<uint8_t>(good.begin(), good.begin() + 12));
    EXPECT_EQ(receiver.Needed(), 4u);
    EXPECT_EQ(CountFrames(), 0);
    Feed(good);
    EXPECT_EQ(CountFrames(), 1);
    EXPECT_EQ(receiver.Dropped(), 1);
}

TEST_F(SlpReceiverTest, AssemblesByteByByte) {
    for (uint8_t byte : good) receiver.Feed(&byte, 1);
    EXPECT_EQ(CountFrames(), 1);
}

// ---- DLP ----------------------------------------------------------------------------------

TEST(DlpWire, RecordedRequestsEncode) {
    EXPECT_EQ(dlp::Encode(dlp::EndOfSyncRequest{0}), Hex("2F 01 20 02 00 00"));
    EXPECT_EQ(dlp::Encode(dlp::CloseDbRequest{2}), Hex("19 01 20 01 02"));
    EXPECT_EQ(dlp::Encode(dlp::CloseAllDbsRequest{}), Hex("19 01 21 00"));
    EXPECT_EQ(dlp::Encode(dlp::OpenConduitRequest{}), Hex("2E 00"));
    EXPECT_EQ(dlp::Encode(dlp::FindDbByHandleRequest{0x80, 3}), Hex("39 01 21 02 80 03"));
}

TEST(DlpWire, ArgumentFormBoundaries) {
    auto head = [](size_t size, size_t count) {
        const auto message = dlp::EncodeRequest(0x21, {{0x20, std::vector<uint8_t>(size, 0xAA)}});
        EXPECT_EQ(message.size(), 2 + count + size);
        return std::vector<uint8_t>(message.begin(),
                                    message.begin() + static_cast<long>(2 + count));
    };
    EXPECT_EQ(head(255, 2), Hex("21 01 20 FF"));
    EXPECT_EQ(head(256, 4), Hex("21 01 A0 00 01 00"));
    EXPECT_EQ(head(65535, 4), Hex("21 01 A0 00 FF FF"));
    EXPECT_EQ(head(65536, 6), Hex("21 01 60 00 00 01 00 00"));
}

TEST(DlpWire, RecordedReadSysInfoAnswerDecodes) {
    const auto message =
        Hex("92 02 00 00 20 0E 04 10 30 00 00 00 01 00 00 04 00 02 00 00"
            " 21 0C 00 01 00 02 00 03 00 00 00 00 FF E1");
    dlp::Response response;
    ASSERT_TRUE(dlp::DecodeResponse(message, response));
    ASSERT_EQ(response.args.size(), 2u);
    dlp::ReadSysInfoResponse info;
    ASSERT_TRUE(wire::Decode(response.args[0].data, info));
    EXPECT_EQ(info.romVersion, 0x04103000u);
    dlp::ReadSysInfoVersions versions;
    ASSERT_TRUE(wire::Decode(response.args[1].data, versions));
    EXPECT_EQ(versions.dlpMajor, 1);
    EXPECT_EQ(versions.dlpMinor, 2);
    EXPECT_EQ(versions.maxRecordSize, 0xFFE1u);
}

TEST(DlpWire, MalformedAnswersAreRefused) {
    dlp::Response response;
    EXPECT_FALSE(dlp::DecodeResponse(Hex("92 01"), response));                    // short header
    EXPECT_FALSE(dlp::DecodeResponse(Hex("92 01 00 00 20 05 01 02"), response));  // runs past end
    EXPECT_FALSE(dlp::DecodeResponse(Hex("92 02 00 00 20 00"), response));        // argc too high
    EXPECT_FALSE(dlp::DecodeResponse(Hex("92 01 00 00 C0 00 00"), response));     // reserved form
    EXPECT_TRUE(dlp::DecodeResponse(Hex("AF 00 00 00"), response));
}

TEST(DlpWire, DateTimeMatchesRecordedBytes) {
    struct tm tm {};
    tm.tm_year = 2023 - 1900;
    tm.tm_mon = 5;
    tm.tm_mday = 8;
    tm.tm_hour = 3;
    tm.tm_min = 57;
    tm.tm_sec = 33;
    tm.tm_isdst = -1;
    const time_t local = mktime(&tm);
    EXPECT_EQ(wire::Encode(dlp::ToDateTime(local)), Hex("07 E7 06 08 03 39 21 00"));
    EXPECT_EQ(dlp::FromDateTime(dlp::ToDateTime(local)), local);
    EXPECT_EQ(dlp::FromDateTime(dlp::DateTime{}), 0);
    EXPECT_EQ(wire::Encode(dlp::ToDateTime(0)), Hex("00 00 00 00 00 00 00 00"));
}

// ---- CMP ----------------------------------------------------------------------------------

TEST(CmpRate, ChoosesAsTheSessionAsks) {
    EXPECT_EQ(cmp::ChooseRate(0, false, 115200), 9600);      // no rate set
    EXPECT_EQ(cmp::ChooseRate(57600, false, 38400), 38400);  // -1: lowered
    EXPECT_EQ(cmp::ChooseRate(57600, false, 115200), 57600);
    EXPECT_EQ(cmp::ChooseRate(256000, true, 57600), 256000);  // forced
    EXPECT_EQ(cmp::ChooseRate(57600, false, 0), 57600);       // nothing announced
}

TEST(CmpPackets, InitAndAbortFields) {
    const cmp::Packet wakeup{cmp::kTypeWakeup, 0x10, 1, 3, 0, 115200};
    const cmp::Packet init = cmp::MakeInit(wakeup, 57600);
    EXPECT_EQ(wire::Encode(init), Hex("02 90 01 01 00 00 00 00 E1 00"));
    const cmp::Packet stay = cmp::MakeInit(cmp::Packet{1, 0, 1, 0, 0, 57600}, 9600);
    EXPECT_EQ(wire::Encode(stay), Hex("02 00 01 01 00 00 00 00 25 80"));
    const cmp::Packet abort = cmp::MakeAbort(cmp::Packet{1, 0, 2, 0, 0, 57600});
    EXPECT_EQ(abort.type, cmp::kTypeAbort);
    EXPECT_EQ(abort.flags, cmp::kAbortVersionMismatch);
    EXPECT_FALSE(cmp::DecodeWakeup(Hex("01 00 01 00 00 00")));
    EXPECT_FALSE(cmp::DecodeWakeup(wire::Encode(init)));
}

}  // namespace
}  // namespace hotsync
