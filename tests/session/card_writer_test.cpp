// The card writer against a scripted handheld: what it leaves on the card when the card
// answers with errors, wrong lengths or more than it was sent.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "session/card_writer.h"
#include "session/device_session.h"
#include "tests/hotsync/link_fixture.h"

namespace {

using hotsync::Answer;
using hotsync::Be32;

constexpr uint8_t kCreate = 0x43, kOpen = 0x44, kClose = 0x45, kWrite = 0x46, kDelete = 0x48;
constexpr uint16_t kAlreadyExists = 0x09, kBadRef = 0x2A03, kPermissionDenied = 0x2A05;

std::vector<uint8_t> Refs(std::vector<uint8_t> list) {
    list.insert(list.begin(), {0, uint8_t(list.size() / 2)});
    return list;
}

class CardWriterTest : public hotsync::LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        Connect();
    }

    // The answers of a handheld with one slot-based card, up to the new file's creation,
    // which answers createError.
    static std::vector<std::vector<uint8_t>> UpToCreate(uint16_t createError) {
        std::vector<uint8_t> info = Be32(1);  // slot-based
        info.resize(28, 0);
        info[19] = 1;  // slot 1
        return {Answer(0x3C, 0, Refs({0, 1})),
                Answer(0x55, 0, Refs({0, 1})),
                Answer(0x56, 0, info),
                Answer(0x57, 0, {'S', 'D', 0}),
                Answer(0x3D, 0, {}, false),
                Answer(0x59, 0, {0, 0, 0, 0, 0, 0x10, 0, 0}),  // 1 MB, nothing used
                Answer(0x50, kAlreadyExists),
                Answer(0x50, kAlreadyExists),
                Answer(kCreate, createError)};
    }

    // Answers the requests in turn and returns their function codes (the first byte of a
    // write's data); a request that comes after the last answer is noted too.
    std::future<std::vector<uint8_t>> Script(std::vector<std::vector<uint8_t>> answers) {
        return std::async(std::launch::async, [this, answers] {
            std::vector<uint8_t> seen;
            for (const auto& answer : answers) {
                uint8_t xid = 0;
                auto request = peer->ReceiveMessage(2000, &xid);
                if (!request) return seen;
                seen.push_back(request->empty() ? 0 : request->front());
                peer->SendMessage(answer, xid);
            }
            uint8_t xid = 0;
            auto extra = peer->ReceiveMessage(300, &xid);
            if (extra) seen.push_back(extra->empty() ? 0 : extra->front());
            return seen;
        });
    }

    int Write(const std::vector<uint8_t>& data) {
        CCardWriter writer(*socket);
        std::atomic<uint8_t> cancel{0};
        return writer.Write("game.prc", data, nullptr, cancel);
    }

    // The codes the writer sent after the file's creation.
    static std::vector<uint8_t> AfterCreate(const std::vector<uint8_t>& seen) {
        const size_t first = UpToCreate(0).size();
        return seen.size() > first ? std::vector<uint8_t>(seen.begin() + first, seen.end())
                                   : std::vector<uint8_t>{};
    }
};

TEST_F(CardWriterTest, AFileThatWasThereBeforeIsLeftAloneWhenItCannotBeOpened) {
    auto script = UpToCreate(kAlreadyExists);
    script.push_back(Answer(kOpen, kPermissionDenied));
    auto seen = Script(script);
    EXPECT_EQ(Write(std::vector<uint8_t>(100, 7)), kCardReadOnly);
    // Nothing after the failed open: above all no VFSFileDelete of the old file.
    EXPECT_EQ(AfterCreate(seen.get()), std::vector<uint8_t>{kOpen});
}

TEST_F(CardWriterTest, AFileMadeJustNowIsRemovedWhenItCannotBeOpened) {
    auto script = UpToCreate(0);
    script.push_back(Answer(kOpen, kPermissionDenied));
    script.push_back(Answer(kDelete, 0));
    auto seen = Script(script);
    EXPECT_EQ(Write(std::vector<uint8_t>(100, 7)), kCardReadOnly);
    EXPECT_EQ(AfterCreate(seen.get()), (std::vector<uint8_t>{kOpen, kDelete}));
}

TEST_F(CardWriterTest, AFileRefAnswerOfTheWrongLengthIsAFailureWithNothingLeft) {
    auto script = UpToCreate(0);
    script.push_back(Answer(kOpen, 0, {0x12, 0x34}));  // two bytes of a four-byte reference
    script.push_back(Answer(kDelete, 0));
    auto seen = Script(script);
    EXPECT_EQ(Write(std::vector<uint8_t>(100, 7)), kCardWriteFailed);
    EXPECT_EQ(AfterCreate(seen.get()), (std::vector<uint8_t>{kOpen, kDelete}));
}

TEST_F(CardWriterTest, AWriteThatClaimsMoreThanWasSentIsRefusedAndTheFileRemoved) {
    auto script = UpToCreate(0);
    script.push_back(Answer(kOpen, 0, Be32(0x1234)));
    script.push_back(Answer(0x5B, 0, {}, false));     // resized to nothing
    script.push_back(Answer(kWrite, 0, {}, false));   // send the data
    script.push_back(Answer(kWrite, 0, Be32(5000)));  // 5,000 of 100 bytes
    script.push_back(Answer(kClose, 0));
    script.push_back(Answer(kDelete, 0));
    auto seen = Script(script);
    EXPECT_EQ(Write(std::vector<uint8_t>(100, 7)), kCardWriteFailed);
    EXPECT_EQ(AfterCreate(seen.get()),
              (std::vector<uint8_t>{kOpen, 0x5B, kWrite, 7, kClose, kDelete}));
}

TEST_F(CardWriterTest, AReferenceTheHandheldDisownsEndsTheWriteAndTheFileGoes) {
    auto script = UpToCreate(0);
    script.push_back(Answer(kOpen, 0, Be32(0x1234)));
    script.push_back(Answer(0x5B, 0, {}, false));
    script.push_back(Answer(kWrite, kBadRef));  // no data follows
    script.push_back(Answer(kClose, kBadRef));
    script.push_back(Answer(kDelete, 0));
    auto seen = Script(script);
    EXPECT_EQ(Write(std::vector<uint8_t>(100, 7)), kCardWriteFailed);
    EXPECT_EQ(AfterCreate(seen.get()),
              (std::vector<uint8_t>{kOpen, 0x5B, kWrite, kClose, kDelete}));
}

TEST_F(CardWriterTest, ALengthReadBackThatDiffersIsAFailedCheck) {
    auto script = UpToCreate(0);
    script.push_back(Answer(kOpen, 0, Be32(0x1234)));
    script.push_back(Answer(0x5B, 0, {}, false));
    script.push_back(Answer(kWrite, 0, {}, false));
    script.push_back(Answer(kWrite, 0, Be32(100)));
    script.push_back(Answer(0x5C, 0, Be32(99)));  // the card says 99 bytes
    script.push_back(Answer(kClose, 0));
    script.push_back(Answer(kDelete, 0));
    auto seen = Script(script);
    EXPECT_EQ(Write(std::vector<uint8_t>(100, 7)), kInstallVerifyFailed);
    EXPECT_EQ(AfterCreate(seen.get()),
              (std::vector<uint8_t>{kOpen, 0x5B, kWrite, 7, 0x5C, kClose, kDelete}));
}

TEST_F(CardWriterTest, NamesTheCardCannotHoldAreRefusedBeforeAnythingIsSent) {
    auto seen = Script({});
    CCardWriter writer(*socket);
    std::atomic<uint8_t> cancel{0};
    for (const std::string& name :
         {std::string(256, 'n'), std::string("a/b.prc"), std::string("a\\b.prc"),
          std::string("a\0b", 3), std::string()}) {
        EXPECT_EQ(writer.Write(name, {1, 2, 3}, nullptr, cancel), kCardBadName) << name;
    }
    EXPECT_TRUE(seen.get().empty());
    EXPECT_TRUE(IsCardFileName(std::string(255, 'n')));
    EXPECT_TRUE(IsCardFileName("Space Game.prc"));
}

TEST_F(CardWriterTest, TheCardIsChosenByPositionOrLabelAmongTheVisibleVolumes) {
    // An internal volume the launcher hides, then the card.
    std::vector<uint8_t> hidden = Be32(0x4), card = Be32(0x1);
    hidden.resize(28, 0);
    card.resize(28, 0);
    auto seen =
        Script({Answer(0x3C, 0, Refs({0, 1})), Answer(0x55, 0, Refs({0, 1, 0, 2})),
                Answer(0x56, 0, hidden), Answer(0x56, 0, card), Answer(0x57, 0, {'S', 'D', 0})});
    CCardWriter writer(*socket);
    EXPECT_EQ(writer.Select(ParseCardSelector("SD")), 0);
    EXPECT_EQ(writer.Label(), "SD");
    EXPECT_EQ(writer.Select(ParseCardSelector("other")), 0);  // chosen once per run
    seen.get();

    seen = Script({Answer(0x3C, 0, Refs({0, 1})), Answer(0x55, 0, Refs({0, 1, 0, 2})),
                   Answer(0x56, 0, hidden), Answer(0x56, 0, card), Answer(0x57, 0, {'S', 'D', 0})});
    CCardWriter second(*socket);
    EXPECT_EQ(second.Select(ParseCardSelector("2")), kCardNone);  // one card is visible
    seen.get();
}

TEST(CardSelector, NumbersArePositionsAndAnythingElseALabel) {
    EXPECT_EQ(ParseCardSelector("2").number, 2);
    EXPECT_TRUE(ParseCardSelector("2").label.empty());
    for (const char* label : {"SD CARD", "0", "17", "+1", "2x", " 2"}) {
        const CardSelector selector = ParseCardSelector(label);
        EXPECT_EQ(selector.number, 0) << label;
        EXPECT_EQ(selector.label, label);
    }
    EXPECT_EQ(ParseCardSelector("").number, 0);
    EXPECT_TRUE(ParseCardSelector("").label.empty());
}

}  // namespace
