// A minimal desktop side for driving the virtual handheld in tests: just enough SLP/PADP
// to send requests and read answers, with access to every raw packet. Deliberately
// simple (no retransmission unless asked) so that tests see what the handheld does.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "hotsync/transport.h"
#include "tools/handheld/slp_codec.h"

namespace handheld_test {

struct Packet {
    handheld::SlpPacket slp;
    handheld::PadpHeader padp;
    std::vector<uint8_t> data;  // PADP data (or ACK extra bytes)
    bool isPadp = false;
};

class CMiniDesktop {
  public:
    explicit CMiniDesktop(hotsync::ITransport& transport) : m_t(transport) {}

    // Next packet of any kind, or false on time-out / failure.
    bool ReadPacket(Packet& out, int timeoutMs);
    bool WritePacket(uint8_t type, uint8_t xid, const std::vector<uint8_t>& body);
    bool SendAck(uint8_t xid, uint8_t flags, uint32_t sizeOrOffset);
    bool SendData(uint8_t xid, uint8_t flags, uint32_t sizeOrOffset,
                  const std::vector<uint8_t>& data);

    // Waits for a wakeup (loopback packets skipped), ACKs it; the CMP bytes.
    bool AcceptWakeup(std::vector<uint8_t>& cmp, int timeoutMs);
    // Sends a message in fragments of fragmentSize, each waiting for its ACK (tries
    // attempts, 2 s apart). The ACK flags of the last fragment go to lastAckFlags.
    bool Send(uint8_t xid, const std::vector<uint8_t>& message, size_t fragmentSize = 1024,
              bool longForm = false, int tries = 10);
    // Receives a whole message, ACKing every fragment; the handheld's xid in xid.
    bool Receive(std::vector<uint8_t>& message, uint8_t& xid, int timeoutMs);
    // One DLP exchange with a fresh xid.
    bool Call(const std::vector<uint8_t>& request, std::vector<uint8_t>& response,
              int timeoutMs = 10000);
    // The CMP INIT; 0x80 flag with a rate other than 0.
    bool Init(uint32_t rate, uint8_t flags, uint8_t xid = 0x01);

    uint8_t lastAckFlags = 0;
    std::vector<uint8_t> lastAckExtra;
    int acksSeen = 0, dataSeen = 0, ticklesSeen = 0, loopbacksSeen = 0, wakeupsSeen = 0;
    bool longFormAcks = false;  // send ACKs in the long form
    int ackWaitMs = 2000;
    uint8_t lastDataFlags = 0;  // PADP flags of the last data packet received

  private:
    hotsync::ITransport& m_t;
    handheld::CSlpParser m_parser;
    uint8_t m_xid = 0;
    std::vector<Packet> m_held;  // data read while waiting for an ACK
};

// DLP request builder: function code and one argument (tiny/small/long chosen by size).
std::vector<uint8_t> Request(uint8_t function, uint8_t argId, const std::vector<uint8_t>& arg);
std::vector<uint8_t> Request0(uint8_t function);
// Big-endian helpers.
void Put16(std::vector<uint8_t>& v, uint16_t x);
void Put32(std::vector<uint8_t>& v, uint32_t x);
void PutStr(std::vector<uint8_t>& v, const std::string& s);
uint16_t Get16(const std::vector<uint8_t>& v, size_t at);
uint32_t Get32(const std::vector<uint8_t>& v, size_t at);

// A decoded response: error and arguments.
struct Response {
    uint8_t function = 0;
    uint16_t error = 0;
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> args;
};
bool DecodeResponse(const std::vector<uint8_t>& bytes, Response& out);

}  // namespace handheld_test
