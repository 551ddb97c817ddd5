#include "fuzz/line_script.h"

#include <algorithm>
#include <cstring>

#include "hotsync/padp.h"

namespace fuzz {

namespace {

constexpr size_t kFragment = 1024;
// Enough steps for any exchange the targets make; more would only make slow inputs.
constexpr size_t kMaxSteps = 512;

}  // namespace

std::vector<uint8_t> PadpFrame(uint8_t xid, uint8_t type, uint8_t flags, uint32_t sizeOrOffset,
                               const std::vector<uint8_t>& data) {
    std::vector<uint8_t> body =
        hotsync::wire::Encode(hotsync::padp::Header{type, flags, sizeOrOffset});
    body.insert(body.end(), data.begin(), data.end());
    hotsync::slp::Header header;
    header.xid = xid;
    return hotsync::slp::EncodeFrame(header, body);
}

void PutRaw(std::vector<uint8_t>& script, const std::vector<uint8_t>& bytes) {
    script.push_back(kStepRaw);
    PutChunk(script, bytes);
}

void PutPadp(std::vector<uint8_t>& script, uint8_t xid, uint8_t type, uint8_t flags,
             uint32_t sizeOrOffset, const std::vector<uint8_t>& data) {
    script.insert(script.end(),
                  {kStepPadp, xid, type, flags, uint8_t(sizeOrOffset >> 24),
                   uint8_t(sizeOrOffset >> 16), uint8_t(sizeOrOffset >> 8), uint8_t(sizeOrOffset)});
    PutChunk(script, data);
}

void PutSlp(std::vector<uint8_t>& script, uint8_t destination, uint8_t source, uint8_t type,
            uint8_t xid, const std::vector<uint8_t>& body) {
    script.insert(script.end(), {kStepSlp, destination, source, type, xid});
    PutChunk(script, body);
}

void PutSilence(std::vector<uint8_t>& script) {
    script.push_back(kStepSilence);
}

void PutMessage(std::vector<uint8_t>& script, uint8_t xid, const std::vector<uint8_t>& message) {
    size_t offset = 0;
    do {
        const size_t n = std::min(kFragment, message.size() - offset);
        const bool last = offset + n == message.size();
        const uint8_t flags = uint8_t((offset == 0 ? 0x80 : 0) | (last ? 0x40 : 0));
        const uint32_t sizeOrOffset = uint32_t(offset == 0 ? message.size() : offset);
        PutPadp(script, xid, 0x01, flags, sizeOrOffset,
                std::vector<uint8_t>(message.begin() + static_cast<std::ptrdiff_t>(offset),
                                     message.begin() + static_cast<std::ptrdiff_t>(offset + n)));
        offset += n;
    } while (offset < message.size());
}

std::deque<LineStep> ReadScript(CInput& input) {
    std::deque<LineStep> steps;
    while (input.Left() > 0 && steps.size() < kMaxSteps) {
        LineStep step;
        switch (input.U8() % 4) {
            case kStepRaw:
                step.bytes = input.Chunk();
                break;
            case kStepPadp: {
                const uint8_t xid = input.U8();
                const uint8_t type = input.U8();
                const uint8_t flags = input.U8();
                const uint32_t sizeOrOffset = input.U32();
                step.bytes = PadpFrame(xid, type, flags, sizeOrOffset, input.Chunk());
                break;
            }
            case kStepSlp: {
                hotsync::slp::Header header;
                header.destination = input.U8();
                header.source = input.U8();
                header.type = input.U8();
                header.xid = input.U8();
                step.bytes = hotsync::slp::EncodeFrame(header, input.Chunk());
                break;
            }
            default:
                step.silence = true;
                break;
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

int CScriptedLine::Read(uint8_t* buffer, size_t size, int) {
    while (!m_steps.empty() && !m_steps.front().silence && m_steps.front().bytes.empty()) {
        m_steps.pop_front();
    }
    if (m_steps.empty()) return -1;
    LineStep& step = m_steps.front();
    if (step.silence) {
        m_steps.pop_front();
        return 0;
    }
    const size_t n = std::min(size, step.bytes.size());
    std::memcpy(buffer, step.bytes.data(), n);
    step.bytes.erase(step.bytes.begin(), step.bytes.begin() + static_cast<std::ptrdiff_t>(n));
    return int(n);
}

int CScriptedLine::Write(const uint8_t*, size_t size) {
    m_written += size;
    return int(size);
}

CAnsweringPeer::CAnsweringPeer(const std::vector<uint8_t>& wakeup, Answer answer, bool record)
    : m_answer(std::move(answer)), m_bRecord(record) {
    m_out = PadpFrame(0xFF, hotsync::padp::kTypeData,
                      hotsync::padp::kFlagFirst | hotsync::padp::kFlagLast, uint32_t(wakeup.size()),
                      wakeup);
}

int CAnsweringPeer::Read(uint8_t* buffer, size_t size, int) {
    if (m_outPos == m_out.size()) return -1;
    const size_t n = std::min(size, m_out.size() - m_outPos);
    std::memcpy(buffer, m_out.data() + m_outPos, n);
    m_outPos += n;
    if (m_outPos == m_out.size()) {
        m_out.clear();
        m_outPos = 0;
    }
    return int(n);
}

int CAnsweringPeer::Write(const uint8_t* data, size_t size) {
    m_receiver.Feed(data, size);
    hotsync::slp::Frame frame;
    while (m_receiver.Next(frame)) OnFrame(frame);
    return int(size);
}

void CAnsweringPeer::OnFrame(const hotsync::slp::Frame& frame) {
    using namespace hotsync::padp;
    Header header;
    size_t used = 0;
    if (!hotsync::wire::Decode(frame.body, header, &used) || header.type != kTypeData) return;
    const std::vector<uint8_t> data(frame.body.begin() + static_cast<std::ptrdiff_t>(used),
                                    frame.body.end());
    if (m_bRecord) {
        m_packets.push_back(
            {frame.header.xid, header.type, header.flags, header.sizeOrOffset, data});
    }
    const uint8_t ackFlags = uint8_t(header.flags & (kFlagFirst | kFlagLast | kFlagLong));
    const std::vector<uint8_t> ack =
        PadpFrame(frame.header.xid, kTypeAck, ackFlags, header.sizeOrOffset, {});
    m_out.insert(m_out.end(), ack.begin(), ack.end());
    if (header.flags & kFlagFirst) m_message.clear();
    m_message.insert(m_message.end(), data.begin(), data.end());
    if (!(header.flags & kFlagLast)) return;
    if (!m_initSeen) {
        m_initSeen = true;  // the CMP init needs no answer
        return;
    }
    std::vector<uint8_t> answer;
    if (!m_answer(m_message, answer)) return;
    if (m_bRecord) {
        m_requests.push_back(m_message);
        m_answers.push_back(answer);
    }
    const bool longForm = answer.size() > 0xFFFF;
    size_t offset = 0;
    do {
        const size_t n = std::min(kFragment, answer.size() - offset);
        const bool last = offset + n == answer.size();
        const uint8_t flags = uint8_t((offset == 0 ? kFlagFirst : 0) | (last ? kFlagLast : 0) |
                                      (longForm ? kFlagLong : 0));
        const uint32_t sizeOrOffset = uint32_t(offset == 0 ? answer.size() : offset);
        const std::vector<uint8_t> fragment = PadpFrame(
            frame.header.xid, kTypeData, flags, sizeOrOffset,
            std::vector<uint8_t>(answer.begin() + static_cast<std::ptrdiff_t>(offset),
                                 answer.begin() + static_cast<std::ptrdiff_t>(offset + n)));
        m_out.insert(m_out.end(), fragment.begin(), fragment.end());
        offset += n;
    } while (offset < answer.size());
}

}  // namespace fuzz
