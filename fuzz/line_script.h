// What the protocol targets put on the line. A script is a list of steps, each one what a peer
// sends next: raw bytes (noise, torn frames), an SLP frame carrying a PADP packet with correct
// checksums (so the fuzzer's choices reach the layers above framing), an SLP frame of any
// type, or a silent read. Seed makers write scripts with the Put... functions.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "hotsync/slp.h"
#include "hotsync/transport.h"

namespace fuzz {

enum StepKind : uint8_t { kStepRaw = 0, kStepPadp = 1, kStepSlp = 2, kStepSilence = 3 };

// One PADP packet in its SLP frame; the 32-bit size or offset is sent as 16 bits unless the
// flags carry the long-form bit.
std::vector<uint8_t> PadpFrame(uint8_t xid, uint8_t type, uint8_t flags, uint32_t sizeOrOffset,
                               const std::vector<uint8_t>& data);

// Script writing (for seeds), in the layout ReadScript takes apart.
void PutRaw(std::vector<uint8_t>& script, const std::vector<uint8_t>& bytes);
void PutPadp(std::vector<uint8_t>& script, uint8_t xid, uint8_t type, uint8_t flags,
             uint32_t sizeOrOffset, const std::vector<uint8_t>& data);
void PutSlp(std::vector<uint8_t>& script, uint8_t destination, uint8_t source, uint8_t type,
            uint8_t xid, const std::vector<uint8_t>& body);
void PutSilence(std::vector<uint8_t>& script);
// A whole message as the PADP data fragments a handheld sends (1024 bytes each).
void PutMessage(std::vector<uint8_t>& script, uint8_t xid, const std::vector<uint8_t>& message);

// A read of the line: bytes, or nothing (a silent slice).
struct LineStep {
    bool silence = false;
    std::vector<uint8_t> bytes;
};
// Takes the rest of the input apart into line steps.
std::deque<LineStep> ReadScript(CInput& input);

// A line that delivers a script: each read takes the next bytes of the current step (a silent
// step answers 0 once); after the last step the line is gone (-1), so no run ever waits.
// Everything written is counted and dropped.
class CScriptedLine final : public hotsync::ITransport {
  public:
    explicit CScriptedLine(std::deque<LineStep> steps) : m_steps(std::move(steps)) {}

    int Open() override { return 0; }
    void Close() override {}
    int SetRate(int) override { return 0; }
    int Read(uint8_t* buffer, size_t size, int timeoutMs) override;
    int Write(const uint8_t*, size_t size) override;
    int BytesWaiting() override { return m_steps.empty() ? 0 : 1; }

    size_t Written() const { return m_written; }

  private:
    std::deque<LineStep> m_steps;
    size_t m_written = 0;
};

// A handheld that always gets the framing right: it wakes the desktop, acknowledges every
// data packet at once, and answers each complete message after the first (the CMP init) with
// what `answer` gives, in fragments under the request's transaction id; when it gives nothing
// the line is gone. So the answers' contents, not their framing, are what the desktop has to
// cope with. Seed makers answer from the virtual handheld and keep what went back and forth.
class CAnsweringPeer final : public hotsync::ITransport {
  public:
    using Answer =
        std::function<bool(const std::vector<uint8_t>& request, std::vector<uint8_t>& answer)>;
    // A data packet the desktop sent, as it was framed.
    struct Packet {
        uint8_t xid = 0, type = 0, flags = 0;
        uint32_t sizeOrOffset = 0;
        std::vector<uint8_t> data;
    };

    CAnsweringPeer(const std::vector<uint8_t>& wakeup, Answer answer, bool record = false);

    int Open() override { return 0; }
    void Close() override {}
    int SetRate(int) override { return 0; }
    int Read(uint8_t* buffer, size_t size, int timeoutMs) override;
    int Write(const uint8_t* data, size_t size) override;
    int BytesWaiting() override { return m_out.empty() ? 0 : 1; }

    const std::vector<Packet>& Packets() const { return m_packets; }
    const std::vector<std::vector<uint8_t>>& Requests() const { return m_requests; }
    const std::vector<std::vector<uint8_t>>& Answers() const { return m_answers; }

  private:
    void OnFrame(const hotsync::slp::Frame& frame);

    Answer m_answer;
    bool m_bRecord;
    std::vector<uint8_t> m_out;
    size_t m_outPos = 0;
    hotsync::slp::CReceiver m_receiver;
    std::vector<uint8_t> m_message;
    bool m_initSeen = false;
    std::vector<Packet> m_packets;
    std::vector<std::vector<uint8_t>> m_requests, m_answers;
};

}  // namespace fuzz
