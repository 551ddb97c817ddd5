// The hand-over between instances: a hostile settings file's "Register" slots taking a
// second instance's files, dropping and deleting them; and the instance channel's message
// and answer lines. Every file handed over must read back as written, in order.
//
// Input: a chunk with the settings file, a count and that many chunks of file paths, a
// chunk with a message line and one with an answer line.
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "shell/hand_over_slots.h"
#include "shell/linux/instance_channel.h"
#include "shell/linux/qt_settings.h"

namespace {

// A path as a second instance hands it over: absolute, without NUL, no longer than a path
// may be.
std::string HandedPath(const std::vector<uint8_t>& bytes) {
    std::string path = "/";
    for (uint8_t b : bytes) {
        if (b != 0 && path.size() < 4095) path += static_cast<char>(b);
    }
    return path;
}

void CheckStore(ISettingsStore& store, const std::vector<std::string>& files);

void CheckSlots(const std::vector<uint8_t>& conf, const std::vector<std::string>& files) {
    const std::string path = fuzz::WriteFreshInput(conf.data(), conf.size(), "CCourier.conf");
    {
        CQtSettings store(path);
        CheckStore(store, files);
    }
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

void CheckStore(ISettingsStore& store, const std::vector<std::string>& files) {
    std::vector<int> free;
    for (int i = 0; i < handover::kSlotCount; ++i) {
        if (store.ReadText(settings::kRegister, handover::SlotName(i), "").empty()) {
            free.push_back(i);
        }
    }
    const size_t written =
        handover::WriteSlots(store, files, fuzz::ScratchDir() + "/Register.lock");
    if (written != std::min(files.size(), free.size())) fuzz::Fail("files not handed over");
    for (size_t n = 0; n < written; ++n) {
        const std::string slot = handover::SlotName(free[n]);
        if (store.ReadText(settings::kRegister, slot, "") != files[n]) {
            fuzz::Fail("a handed-over path does not read back as written");
        }
    }

    // Paths of an even length are "gone".
    const auto keep = [](const std::string& p) { return p.size() % 2 == 1; };
    handover::DropSlots(store, keep);
    for (int i = 0; i < handover::kSlotCount; ++i) {
        const std::string p = store.ReadText(settings::kRegister, handover::SlotName(i), "");
        if (!p.empty() && !keep(p)) fuzz::Fail("a dropped slot is still there");
    }
    handover::DeleteSlots(store);
    for (int i = 0; i < handover::kSlotCount; ++i) {
        if (store.Has(settings::kRegister, handover::SlotName(i))) {
            fuzz::Fail("a deleted slot is still there");
        }
    }
}

void CheckLines(const std::vector<uint8_t>& messageLine, const std::vector<uint8_t>& answerLine) {
    const std::string line(messageLine.begin(), messageLine.end());
    InstanceMessage message;
    if (instance::DecodeMessage(line, message)) {
        if (message.strName.empty() || message.strName.size() > instance::kMaxNameBytes) {
            fuzz::Fail("a message name out of bounds");
        }
        std::string encoded = instance::EncodeMessage(message);
        if (encoded.size() > instance::kMaxLineBytes) fuzz::Fail("a message line too long");
        encoded.pop_back();
        InstanceMessage again;
        if (!instance::DecodeMessage(encoded, again) || again.strName != message.strName ||
            again.nWParam != message.nWParam || again.nLParam != message.nLParam) {
            fuzz::Fail("a message does not survive its own encoding");
        }
    }
    int32_t result = 0;
    if (instance::DecodeAnswer(std::string(answerLine.begin(), answerLine.end()), result)) {
        std::string encoded = instance::EncodeAnswer(result);
        encoded.pop_back();
        int32_t again = 0;
        if (!instance::DecodeAnswer(encoded, again) || again != result) {
            fuzz::Fail("an answer does not survive its own encoding");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CInput in(data, size);
    const std::vector<uint8_t> conf = in.Chunk();
    std::vector<std::string> files(in.U8() % 8);
    for (std::string& file : files) file = HandedPath(in.Chunk());
    const std::vector<uint8_t> messageLine = in.Chunk();
    const std::vector<uint8_t> answerLine = in.Chunk();
    CheckLines(messageLine, answerLine);
    CheckSlots(conf, files);
    return 0;
}
