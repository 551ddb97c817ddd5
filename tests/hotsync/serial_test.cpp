// The serial transport on a pseudo-terminal, and port names.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "hotsync/hotsync.h"
#include "peer.h"
#include "session/link/port_transport.h"
#include "session/link/serial_transport.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The master side of a pseudo-terminal, as the handheld's end of the cable.
class CMasterEnd final : public hotsync::ITransport {
  public:
    CMasterEnd() {
        m_fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_fd >= 0 && grantpt(m_fd) == 0 && unlockpt(m_fd) == 0) {
            m_slave = ptsname(m_fd);
            // Raw mode on the master too, so no byte is translated.
            struct termios2 tio {};
            ioctl(m_fd, TCGETS2, &tio);
            tio.c_iflag = 0;
            tio.c_oflag = 0;
            tio.c_lflag = 0;
            ioctl(m_fd, TCSETS2, &tio);
        }
    }
    ~CMasterEnd() override { Close(); }
    int Open() override { return m_fd >= 0 ? 0 : -1; }
    void Close() override {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }
    int SetRate(int) override { return 0; }
    int Read(uint8_t* buffer, size_t size, int timeoutMs) override {
        struct pollfd fd = {m_fd, POLLIN, 0};
        const int ready = ::poll(&fd, 1, timeoutMs);
        if (ready <= 0) return ready;
        const ssize_t n = ::read(m_fd, buffer, size);
        return n < 0 ? -1 : static_cast<int>(n);
    }
    int Write(const uint8_t* data, size_t size) override {
        return static_cast<int>(::write(m_fd, data, size));
    }
    const std::string& SlavePath() const { return m_slave; }

  private:
    int m_fd = -1;
    std::string m_slave;
};

class SerialTransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(master.SlavePath().empty());
        serial = std::make_unique<ports::CSerialTransport>(master.SlavePath());
        ASSERT_EQ(serial->Open(), 0);
    }
    struct termios2 Settings() {
        struct termios2 tio {};
        ioctl(serial->NativeHandle(), TCGETS2, &tio);
        return tio;
    }

    CMasterEnd master;
    std::unique_ptr<ports::CSerialTransport> serial;
};

TEST_F(SerialTransportTest, LineSettingsFollowTheRate) {
    ASSERT_EQ(serial->SetRate(9600), 0);
    auto tio = Settings();
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB));
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);  // no hardware handshake at 9,600
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF));
    EXPECT_FALSE(tio.c_lflag & ICANON);

    ASSERT_EQ(serial->SetRate(19200), 0);
    EXPECT_TRUE(Settings().c_cflag & CRTSCTS);

    for (int rate : {57600, 115200, 128000, 256000}) {
        ASSERT_EQ(serial->SetRate(rate), 0) << rate;
        EXPECT_EQ(serial->CurrentRate(), rate);
    }
}

TEST_F(SerialTransportTest, BytesTravelBothWaysUntranslated) {
    ASSERT_EQ(serial->SetRate(57600), 0);
    const std::vector<uint8_t> bytes = {0xBE, 0xEF, 0xED, 0x0D, 0x0A, 0x00, 0x11, 0x13, 0xFF};
    ASSERT_EQ(serial->Write(bytes.data(), bytes.size()), int(bytes.size()));
    std::vector<uint8_t> got(bytes.size());
    size_t have = 0;
    while (have < got.size()) {
        const int n = master.Read(got.data() + have, got.size() - have, 1000);
        ASSERT_GT(n, 0);
        have += size_t(n);
    }
    EXPECT_EQ(got, bytes);

    ASSERT_EQ(master.Write(bytes.data(), bytes.size()), int(bytes.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(serial->BytesWaiting(), int(bytes.size()));
    std::vector<uint8_t> back(bytes.size());
    EXPECT_EQ(serial->Read(back.data(), back.size(), 1000), int(bytes.size()));
    EXPECT_EQ(back, bytes);
}

TEST_F(SerialTransportTest, ReadWaitsOnlyAsLongAsAsked) {
    uint8_t byte = 0;
    auto start = Clock::now();
    EXPECT_EQ(serial->Read(&byte, 1, 150), 0);
    EXPECT_GE(MsSince(start), 140);
    EXPECT_LT(MsSince(start), 1000);

    // A partial read returns what came once the line goes quiet, not after the whole
    // inter-byte interval times the count.
    const uint8_t two[2] = {1, 2};
    master.Write(two, 2);
    uint8_t buffer[10];
    start = Clock::now();
    EXPECT_EQ(serial->Read(buffer, sizeof buffer, 1000), 2);
    EXPECT_LE(MsSince(start), 15 * 10 + 500 + 200);
}

// What the handheld sent before the port was opened is still there after the first rate
// setting; a later change of rate clears the input (it came at the old rate).
TEST(SerialTransport, InputWaitingAtOpenSurvivesOnlyTheFirstRateSetting) {
    CMasterEnd master;
    ASSERT_FALSE(master.SlavePath().empty());
    // The other side is opened once first, as the handheld keeps it open, so the bytes
    // written before our open are held for it.
    const int keep = ::open(master.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(keep, 0);
    struct termios2 tio {};
    ioctl(keep, TCGETS2, &tio);
    tio.c_iflag = tio.c_oflag = tio.c_lflag = 0;
    ioctl(keep, TCSETS2, &tio);
    const uint8_t early[4] = {0xBE, 0xEF, 0xED, 0x03};
    ASSERT_EQ(master.Write(early, sizeof early), 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    ports::CSerialTransport serial(master.SlavePath());
    ASSERT_EQ(serial.Open(), 0);
    ASSERT_EQ(serial.SetRate(9600), 0);
    EXPECT_EQ(serial.BytesWaiting(), 4);
    ASSERT_EQ(serial.SetRate(115200), 0);
    EXPECT_EQ(serial.BytesWaiting(), 0);
    serial.Close();
    ::close(keep);
}

// The last ACK of a session is written just before the port is set back and closed; the
// other side must still be able to read it. More than the other side's line buffer holds
// is written, so that part of it still waits in the kernel where a purge would reach it.
TEST_F(SerialTransportTest, WhatWasWrittenSurvivesARateChangeAndTheClose) {
    ASSERT_EQ(serial->SetRate(115200), 0);
    std::vector<uint8_t> bytes(6000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7);
    ASSERT_EQ(serial->Write(bytes.data(), bytes.size()), int(bytes.size()));
    ASSERT_EQ(serial->SetRate(9600), 0);
    ASSERT_EQ(serial->Write(bytes.data(), 100), 100);
    serial->Close();
    std::vector<uint8_t> got(bytes.size() + 100);
    size_t have = 0;
    while (have < got.size()) {
        const int n = master.Read(got.data() + have, got.size() - have, 1000);
        if (n <= 0) break;
        have += size_t(n);
    }
    EXPECT_EQ(have, got.size());
}

TEST_F(SerialTransportTest, InterruptEndsAWaitingRead) {
    auto reader = std::async(std::launch::async, [&] {
        uint8_t byte = 0;
        return serial->Read(&byte, 1, 10000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = Clock::now();
    serial->Interrupt();
    EXPECT_EQ(reader.get(), 0);
    EXPECT_LT(MsSince(start), 1000);
}

TEST_F(SerialTransportTest, PseudoTerminalHasNoModemLines) {
    bool cts = true;
    EXPECT_FALSE(serial->ReadModemStatus(cts));
    EXPECT_FALSE(cts);
    EXPECT_FALSE(serial->HasModemLines());
    EXPECT_GE(serial->NativeHandle(), 0);
}

TEST_F(SerialTransportTest, PortIsHeldExclusively) {
    ports::CSerialTransport second(master.SlavePath());
    if (geteuid() == 0) GTEST_SKIP() << "root may open an exclusive terminal anyway";
    errno = 0;
    EXPECT_EQ(second.Open(), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(SerialTransportTest, PulledCableFailsTheRead) {
    master.Close();
    uint8_t byte = 0;
    EXPECT_EQ(serial->Read(&byte, 1, 500), -1);
}

TEST(SerialTransport, MissingDeviceSetsErrno2) {
    ports::CSerialTransport missing("/dev/cradlecourier-no-such-port");
    errno = 0;
    EXPECT_EQ(missing.Open(), -1);
    EXPECT_EQ(errno, 2);
    uint8_t byte = 0;
    EXPECT_EQ(missing.Read(&byte, 1, 10), -1);
    EXPECT_EQ(missing.SetRate(9600), -1);
}

TEST(PortNames, MapToDevices) {
    EXPECT_EQ(ports::DevicePathForPort("COM1"), "/dev/ttyS0");
    EXPECT_EQ(ports::DevicePathForPort("com8"), "/dev/ttyS7");
    EXPECT_EQ(ports::DevicePathForPort("/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(ports::DevicePathForPort("USB"), "");
    EXPECT_EQ(ports::DevicePathForPort("COM"), "");
    EXPECT_EQ(ports::DevicePathForPort("COM1x"), "");
    EXPECT_EQ(ports::DevicePathForPort("COM0"), "");
    const auto mapper = [](int n) { return "/dev/ttyUSB" + std::to_string(n); };
    EXPECT_EQ(ports::DevicePathForPort("COM3", mapper), "/dev/ttyUSB3");

    errno = 0;
    EXPECT_FALSE(ports::CreatePortTransport("LPT1"));
    EXPECT_EQ(errno, 2);
    EXPECT_TRUE(ports::CreatePortTransport("COM2"));
    // USB and the network listener have transports of their own, whose framing the
    // handheld's first bytes or the port decide; a serial line may carry either.
    const auto usb = ports::CreatePortTransport("USB");
    ASSERT_TRUE(usb);
    EXPECT_EQ(usb->LinkFraming(), hotsync::Framing::kDetect);
    const auto net = ports::CreatePortTransport("net:127.0.0.1:14238");
    ASSERT_TRUE(net);
    EXPECT_EQ(net->LinkFraming(), hotsync::Framing::kNetSync);
    EXPECT_EQ(ports::CreatePortTransport("COM2")->LinkFraming(), hotsync::Framing::kDetect);
    EXPECT_EQ(ports::BindName("net:192.168.1.20:14238"), "NET");
    EXPECT_EQ(ports::BindName("COM2"), "COM2");
}

// The whole handshake and one request over a real terminal device.
TEST(SerialLink, HandshakeAndRequestOverAPseudoTerminal) {
    CMasterEnd master;
    ASSERT_FALSE(master.SlavePath().empty());
    auto socket =
        hotsync::CSocket::Create(hotsync::kAfSlp, hotsync::kSockStream, hotsync::kProtoPadp);
    hotsync::LinkTimeouts timeouts;
    timeouts.acceptMs = 3000;
    timeouts.receiveMs = 3000;
    timeouts.rateSettleMs = 10;
    socket->SetTimeouts(timeouts);
    hotsync::SocketAddress address;
    ASSERT_TRUE(hotsync::MakeAddress(master.SlavePath(), address));
    auto transport = ports::CreatePortTransport(master.SlavePath());
    ASSERT_EQ(socket->Bind(address, std::move(transport)), 0);
    EXPECT_GE(socket->PortHandle(), 0);
    ASSERT_EQ(socket->Listen(1), 0);
    socket->SetEstablishRate(115200, true);

    hotsync::testing::CPeer peer(master);
    auto handheld = std::async(std::launch::async, [&] {
        auto init = peer.Handshake(hotsync::testing::CPeer::Wakeup(57600, 0x10));
        if (!init) return false;
        uint8_t xid = 0;
        if (!peer.ReceiveMessage(3000, &xid)) return false;
        return peer.SendMessage(std::vector<uint8_t>{0xAE, 0x00, 0x00, 0x00}, xid);
    });
    ASSERT_EQ(socket->Accept(), 0);
    EXPECT_EQ(socket->LineRate(), 115200);
    EXPECT_EQ(hotsync::DlpOpenConduit(*socket), 0);
    EXPECT_TRUE(handheld.get());
    socket->SetEndOfSyncSent(true);
    EXPECT_EQ(socket->Close(), 0);
}

}  // namespace

namespace {

// The button poll sees the wakeup before listening starts; listening must not purge it,
// since an old handheld sends it only once per second (or once at all).
TEST(SerialLink, WakeupThatArrivedBeforeListeningIsAccepted) {
    CMasterEnd master;
    ASSERT_FALSE(master.SlavePath().empty());
    auto socket =
        hotsync::CSocket::Create(hotsync::kAfSlp, hotsync::kSockStream, hotsync::kProtoPadp);
    hotsync::LinkTimeouts timeouts;
    timeouts.acceptMs = 1500;
    timeouts.rateSettleMs = 0;
    socket->SetTimeouts(timeouts);
    hotsync::SocketAddress address;
    ASSERT_TRUE(hotsync::MakeAddress(master.SlavePath(), address));
    ASSERT_EQ(socket->Bind(address, ports::CreatePortTransport(master.SlavePath())), 0);

    const auto wakeup = hotsync::wire::Encode(hotsync::testing::CPeer::Wakeup(57600));
    hotsync::testing::CPeer peer(master);
    peer.Send(hotsync::padp::kTypeData, 0xC0, 10, 0xFF, wakeup);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GT(socket->Transport()->BytesWaiting(), 0);  // what the button poll sees

    ASSERT_EQ(socket->Listen(1), 0);
    auto handheld = std::async(std::launch::async, [&] {
        auto init = peer.ReadData(2000);
        if (init) peer.Ack(*init);
        return init.has_value();
    });
    EXPECT_EQ(socket->Accept(), 0);
    EXPECT_TRUE(handheld.get());
    socket->SetEndOfSyncSent(true);
}

}  // namespace
