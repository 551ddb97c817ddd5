// The expansion and VFS requests: their layouts against the fact sheet's table, and the
// desktop's reading of good and hostile answers from a scripted handheld.
#include <gtest/gtest.h>

#include "hotsync/dlp.h"
#include "link_fixture.h"

namespace hotsync {
namespace {

TEST(VfsWire, RequestsEncodeAsTheTableReads) {
    const auto open =
        dlp::Encode(dlp::VfsFileOpenRequest{1, uint16_t(kVfsModeReadWrite), "/PALM/a.prc"});
    const std::vector<uint8_t> expected{0x44, 1,   0x20, 16,  0,   1,   0,   7,   '/', 'P',
                                        'A',  'L', 'M',  '/', 'a', '.', 'p', 'r', 'c', 0};
    EXPECT_EQ(open, expected);
    EXPECT_EQ(dlp::Encode(dlp::VfsFileWriteRequest{0x0A0F0001, 16384}),
              (std::vector<uint8_t>{0x46, 1, 0x20, 8, 0x0A, 0x0F, 0, 1, 0, 0, 0x40, 0}));
    EXPECT_EQ(dlp::Encode(dlp::VfsFileResizeRequest{7, 0}),
              (std::vector<uint8_t>{0x5B, 1, 0x20, 8, 0, 0, 0, 7, 0, 0, 0, 0}));
    EXPECT_EQ(dlp::Encode(dlp::VfsDirCreateRequest{1, "/PALM"}),
              (std::vector<uint8_t>{0x50, 1, 0x20, 8, 0, 1, '/', 'P', 'A', 'L', 'M', 0}));
    EXPECT_EQ(dlp::Encode(dlp::VfsVolumeEnumerateRequest{}), (std::vector<uint8_t>{0x55, 0}));
    EXPECT_EQ(dlp::Encode(dlp::ExpCardPresentRequest{1}),
              (std::vector<uint8_t>{0x3D, 1, 0x20, 2, 0, 1}));
    EXPECT_EQ(dlp::Encode(dlp::FindDbByNameRequest{0x40, 0, "Doc"}),
              (std::vector<uint8_t>{0x39, 1, 0x20, 6, 0x40, 0, 'D', 'o', 'c', 0}));
    EXPECT_EQ(dlp::Encode(dlp::ReadOpenDbInfoRequest{3}),
              (std::vector<uint8_t>{0x2B, 1, 0x20, 1, 3}));
}

TEST(VfsWire, VolumeInfoDecodesInFieldOrder) {
    std::vector<uint8_t> data;
    for (uint32_t v : {0x3u, 0x76666174u, 0x66617466u, 0x6C696273u}) {
        const auto b = Be32(v);
        data.insert(data.end(), b.begin(), b.end());
    }
    data.insert(data.end(), {0, 7, 0, 1});
    for (uint32_t v : {0x73646967u, 0u}) {
        const auto b = Be32(v);
        data.insert(data.end(), b.begin(), b.end());
    }
    dlp::VolumeInfoResponse info;
    ASSERT_TRUE(wire::Decode(data, info));
    EXPECT_EQ(info.attributes, 3u);
    EXPECT_EQ(info.slotLibRef, 7);
    EXPECT_EQ(info.slotRef, 1);
    EXPECT_EQ(info.mediaType, 0x73646967u);
    data.pop_back();  // 27 bytes: one short
    EXPECT_FALSE(wire::Decode(data, info));
}

// ---- answers from a scripted handheld ---------------------------------------------------

class VfsTest : public LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        Connect();
    }
};

TEST_F(VfsTest, VolumeListsAreTakenUpToTheirCapAndShortOnesRefused) {
    // 65,535 volumes, every reference there: only the first kMaxVolumes are kept.
    std::vector<uint8_t> many{0xFF, 0xFF};
    for (int i = 0; i < 0xFFFF; ++i) many.insert(many.end(), {uint8_t(i >> 8), uint8_t(i)});
    auto served = Serve(Answer(0x55, 0, many));
    std::vector<int> volumes;
    EXPECT_EQ(DlpVFSVolumeEnumerate(*socket, volumes), 0);
    EXPECT_EQ(volumes.size(), kMaxVolumes);
    EXPECT_EQ(volumes[1], 1);
    served.get();
    // 65,535 claimed, three carried.
    served = Serve(Answer(0x55, 0, {0xFF, 0xFF, 0, 1, 0, 2, 0, 3}));
    EXPECT_EQ(DlpVFSVolumeEnumerate(*socket, volumes), kDlpErrShortAnswer);
    EXPECT_TRUE(volumes.empty());
    served.get();
    // An odd byte count and a missing argument.
    served = Serve(Answer(0x3C, 0, {0, 1, 0}));
    EXPECT_EQ(DlpExpSlotEnumerate(*socket, volumes), kDlpErrShortAnswer);
    served.get();
    served = Serve(Answer(0x3C, 0, {}, false));
    EXPECT_EQ(DlpExpSlotEnumerate(*socket, volumes), kDlpErrShortAnswer);
    served.get();
}

TEST_F(VfsTest, LabelsWithoutTheirZeroAndOverlongOnesAreCut) {
    auto served = Serve(Answer(0x57, 0, {'S', 'D', ' ', 'C', 'A', 'R', 'D'}));
    std::string label;
    EXPECT_EQ(DlpVFSVolumeGetLabel(*socket, 1, label), 0);
    EXPECT_EQ(label, "SD CARD");
    served.get();
    served = Serve(Answer(0x57, 0, std::vector<uint8_t>(600, 'x')));
    EXPECT_EQ(DlpVFSVolumeGetLabel(*socket, 1, label), 0);
    EXPECT_EQ(label.size(), kMaxVfsName);
    served.get();
}

TEST_F(VfsTest, WrongLengthsAndCodesAreRefusedAndTheKnownQuirkTaken) {
    auto served = Serve(Answer(0x59, 0, {0, 0, 1}));  // VolumeSize: 3 of 8 bytes
    uint32_t used = 0, total = 0;
    EXPECT_EQ(DlpVFSVolumeSize(*socket, 1, used, total), kDlpErrShortAnswer);
    served.get();
    VolumeInfo info;
    served = Serve(Answer(0x56, 0, std::vector<uint8_t>(20, 0)));
    EXPECT_EQ(DlpVFSVolumeInfo(*socket, 1, info), kDlpErrShortAnswer);
    served.get();
    // m130 and Tungsten T answer VolumeInfo under the VolumeSize code.
    std::vector<uint8_t> good(28, 0);
    good[19] = 1;  // slot 1
    served = Serve(Answer(0x59, 0, good));
    EXPECT_EQ(DlpVFSVolumeInfo(*socket, 1, info), 0);
    EXPECT_EQ(info.slotRef, 1);
    served.get();
    // Any other foreign code is not.
    served = Serve(Answer(0x5C, 0, Be32(10)));
    uint32_t fileRef = 0;
    EXPECT_EQ(DlpVFSFileOpen(*socket, 1, "/x", kVfsModeRead, fileRef), kDlpErrBadResponse);
    served.get();
    served = Serve(Answer(0x44, 0x2A0E));
    EXPECT_EQ(DlpVFSFileOpen(*socket, 1, "/x", kVfsModeRead, fileRef), kVfsErrBadName);
    served.get();
    // Paths that cannot travel are refused before anything is sent.
    EXPECT_EQ(DlpVFSFileCreate(*socket, 1, ""), kDlpErrBadArgument);
    EXPECT_EQ(DlpVFSFileDelete(*socket, 1, std::string("/a\0b", 4)), kDlpErrBadArgument);
}

TEST_F(VfsTest, WriteSendsItsDataAsAMessageOfItsOwn) {
    const std::vector<uint8_t> data(3000, 0x5A);
    auto handheld = std::async(std::launch::async, [&] {
        uint8_t xid = 0;
        auto request = peer->ReceiveMessage(2000, &xid);
        peer->SendMessage(Answer(0x46, 0, {}, false), xid);
        auto bytes = peer->ReceiveMessage(2000, &xid);
        peer->SendMessage(Answer(0x46, 0, Be32(1000)), xid);  // a short write
        return std::make_pair(request.value_or(std::vector<uint8_t>{}),
                              bytes.value_or(std::vector<uint8_t>{}));
    });
    uint32_t written = 0;
    EXPECT_EQ(DlpVFSFileWrite(*socket, 0x77, data, written), 0);
    EXPECT_EQ(written, 1000u);
    const auto [request, bytes] = handheld.get();
    EXPECT_EQ(request, dlp::Encode(dlp::VfsFileWriteRequest{0x77, 3000}));
    EXPECT_EQ(bytes, data);
}

TEST_F(VfsTest, WriteAnswersThatClaimTooMuchOrFailFirstSendNoData) {
    const std::vector<uint8_t> data(100, 1);
    auto handheld = std::async(std::launch::async, [&] {
        uint8_t xid = 0;
        peer->ReceiveMessage(2000, &xid);
        peer->SendMessage(Answer(0x46, 0, {}, false), xid);
        peer->ReceiveMessage(2000, &xid);
        peer->SendMessage(Answer(0x46, 0, Be32(101)), xid);
        // A reference the handheld never issued: refused before the data.
        peer->ReceiveMessage(2000, &xid);
        peer->SendMessage(Answer(0x46, 0x2A03), xid);
        return peer->ReceiveMessage(300, &xid).has_value();
    });
    uint32_t written = 0;
    EXPECT_EQ(DlpVFSFileWrite(*socket, 1, data, written), kDlpErrBadResponse);
    EXPECT_EQ(DlpVFSFileWrite(*socket, 0xDEAD, data, written), kVfsErrFileBadRef);
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(handheld.get()) << "data was sent after the first answer refused the write";
    EXPECT_EQ(DlpVFSFileWrite(*socket, 1, {}, written), kDlpErrBadArgument);
}

TEST_F(VfsTest, VerificationAnswersDecode) {
    std::vector<uint8_t> sizes = Be32(12);
    for (uint32_t v : {5000u, 4000u}) {
        const auto b = Be32(v);
        sizes.insert(sizes.end(), b.begin(), b.end());
    }
    std::vector<uint8_t> answer{0xB9, 1, 0, 0, 0x21, uint8_t(sizes.size())};
    answer.insert(answer.end(), sizes.begin(), sizes.end());
    auto served = Serve(answer);
    DbSizes found;
    EXPECT_EQ(DlpFindDBSizes(*socket, 0, "Doc", found), 0);
    EXPECT_EQ(found.recordCount, 12u);
    EXPECT_EQ(found.dataBytes, 4000u);
    EXPECT_EQ(served.get(), dlp::Encode(dlp::FindDbByNameRequest{0x40, 0, "Doc"}));
    served = Serve(Answer(0x2B, 0, {0, 9}));
    int count = 0;
    EXPECT_EQ(DlpReadOpenDBInfo(*socket, 1, count), 0);
    EXPECT_EQ(count, 9);
    served.get();
    served = Serve(Answer(0x2B, 0, {9}));
    EXPECT_EQ(DlpReadOpenDBInfo(*socket, 1, count), kDlpErrShortAnswer);
    served.get();
}

}  // namespace
}  // namespace hotsync
