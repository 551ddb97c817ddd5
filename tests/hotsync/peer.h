// A scripted handheld for link tests: reads and writes PADP packets on the handheld end of
// a pipe, so a test can play any behaviour, good or bad, against the desktop stack.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hotsync/cmp.h"
#include "hotsync/padp.h"
#include "hotsync/slp.h"
#include "hotsync/transport.h"

namespace hotsync::testing {

struct Packet {
    uint8_t xid = 0;
    padp::Header header;
    std::vector<uint8_t> data;
};

class CPeer {
  public:
    explicit CPeer(ITransport& transport) : m_transport(transport) {}

    // The next good SLP frame, or nothing after timeoutMs.
    std::optional<slp::Frame> ReadFrame(int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        slp::Frame frame;
        while (!m_receiver.Next(frame)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) return std::nullopt;
            uint8_t buffer[2048];
            const int n = m_transport.Read(buffer, sizeof buffer, static_cast<int>(left));
            if (n < 0) return std::nullopt;
            m_receiver.Feed(buffer, static_cast<size_t>(n));
        }
        return frame;
    }

    std::optional<Packet> ReadPacket(int timeoutMs) {
        auto frame = ReadFrame(timeoutMs);
        if (!frame) return std::nullopt;
        Packet packet;
        packet.xid = frame->header.xid;
        size_t used = 0;
        wire::Decode(frame->body, packet.header, &used);
        packet.data.assign(frame->body.begin() + static_cast<std::ptrdiff_t>(used),
                           frame->body.end());
        return packet;
    }

    // The next data packet, skipping tickles and ACKs.
    std::optional<Packet> ReadData(int timeoutMs) {
        for (;;) {
            auto packet = ReadPacket(timeoutMs);
            if (!packet || packet->header.type == padp::kTypeData) return packet;
        }
    }

    void WriteRaw(std::span<const uint8_t> bytes) { m_transport.Write(bytes.data(), bytes.size()); }

    static std::vector<uint8_t> Frame(uint8_t type, uint8_t flags, uint32_t sizeOrOffset,
                                      uint8_t xid, std::span<const uint8_t> data = {}) {
        std::vector<uint8_t> body = wire::Encode(padp::Header{type, flags, sizeOrOffset});
        body.insert(body.end(), data.begin(), data.end());
        slp::Header header;
        header.xid = xid;
        return slp::EncodeFrame(header, body);
    }

    void Send(uint8_t type, uint8_t flags, uint32_t sizeOrOffset, uint8_t xid,
              std::span<const uint8_t> data = {}) {
        WriteRaw(Frame(type, flags, sizeOrOffset, xid, data));
    }

    // ACK as a handheld does: flags echoed, long form once it is agreed.
    void Ack(const Packet& packet, uint8_t extraFlags = 0) {
        uint8_t flags = uint8_t((packet.header.flags & 0xC0) | extraFlags);
        if (longForm) flags |= padp::kFlagLong;
        Send(padp::kTypeAck, flags, packet.header.sizeOrOffset, packet.xid);
    }

    // Receives one whole desktop message, ACKing every fragment.
    std::optional<std::vector<uint8_t>> ReceiveMessage(int timeoutMs, uint8_t* xid = nullptr) {
        std::vector<uint8_t> message;
        for (;;) {
            auto packet = ReadData(timeoutMs);
            if (!packet) return std::nullopt;
            Ack(*packet);
            fragments.push_back(*packet);
            if (packet->header.flags & padp::kFlagFirst) message.clear();
            message.insert(message.end(), packet->data.begin(), packet->data.end());
            if (xid) *xid = packet->xid;
            if (packet->header.flags & padp::kFlagLast) return message;
        }
    }

    // Sends a message in fragments, waiting for each ACK. False when one never came.
    bool SendMessage(std::span<const uint8_t> message, uint8_t xid, int timeoutMs = 2000) {
        size_t offset = 0;
        do {
            const size_t chunk = std::min<size_t>(1024, message.size() - offset);
            uint8_t flags = uint8_t((offset == 0 ? padp::kFlagFirst : 0) |
                                    (offset + chunk == message.size() ? padp::kFlagLast : 0));
            if (longForm) flags |= padp::kFlagLong;
            const uint32_t sizeOrOffset = uint32_t(offset == 0 ? message.size() : offset);
            Send(padp::kTypeData, flags, sizeOrOffset, xid, message.subspan(offset, chunk));
            for (;;) {
                auto packet = ReadPacket(timeoutMs);
                if (!packet) return false;
                if (packet->header.type == padp::kTypeAck && packet->xid == xid &&
                    packet->header.sizeOrOffset == sizeOrOffset) {
                    break;
                }
            }
            offset += chunk;
        } while (offset < message.size());
        return true;
    }

    // Plays the handheld's half of the handshake; returns the desktop's CMP packet.
    std::optional<cmp::Packet> Handshake(const cmp::Packet& wakeup, int timeoutMs = 3000) {
        const std::vector<uint8_t> bytes = wire::Encode(wakeup);
        Send(padp::kTypeData, padp::kFlagFirst | padp::kFlagLast, uint32_t(bytes.size()),
             cmp::kWakeupXid, bytes);
        for (;;) {
            auto packet = ReadData(timeoutMs);
            if (!packet) return std::nullopt;
            if (packet->xid == cmp::kWakeupXid) continue;  // not expected: wakeup sent once
            cmp::Packet answer;
            wire::Decode(packet->data, answer);
            Ack(*packet);
            if (answer.type == cmp::kTypeInit && (answer.flags & cmp::kInitLongPadp)) {
                longForm = true;
            }
            return answer;
        }
    }

    static cmp::Packet Wakeup(uint32_t baud = 57600, uint8_t flags = 0, uint8_t major = 1,
                              uint8_t minor = 1) {
        return cmp::Packet{cmp::kTypeWakeup, flags, major, minor, 0, baud};
    }

    bool longForm = false;
    std::vector<Packet> fragments;  // every data fragment received by ReceiveMessage

  private:
    ITransport& m_transport;
    slp::CReceiver m_receiver;
};

}  // namespace hotsync::testing
