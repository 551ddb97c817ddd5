// The connection handshake on a scripted line: the desktop socket waits for the wakeup,
// answers it with the init (or refuses it) and, once connected, opens and ends a sync.
#include "fuzz/line_script.h"
#include "hotsync/hotsync.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CInput input(data, size);
    static const int kRates[] = {0, -1, 9600, 57600, 115200, 256000};
    const uint8_t choice = input.U8();
    auto line = std::make_unique<fuzz::CScriptedLine>(fuzz::ReadScript(input));

    auto socket =
        hotsync::CSocket::Create(hotsync::kAfSlp, hotsync::kSockStream, hotsync::kProtoPadp);
    hotsync::SocketAddress address;
    hotsync::MakeAddress("fuzz", address);
    hotsync::LinkTimeouts timeouts;
    timeouts.sendTries = 3;
    timeouts.rateSettleMs = 0;
    socket->SetTimeouts(timeouts);
    const int rate = kRates[choice % 6];
    if (rate == -1) {
        socket->SetEstablishRate(hotsync::kDefaultOfferRate, false);
    } else if (rate != 0) {
        socket->SetEstablishRate(rate, (choice & 0x80) != 0);
    }
    if (socket->Bind(address, std::move(line)) != 0 || socket->Listen(1) != 0) return 0;
    // A failed accept leaves the socket listening; the desktop polls again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (socket->Accept() != 0) continue;
        if (socket->State() != hotsync::SocketState::Connected)
            fuzz::Fail("accepted, not connected");
        if (socket->LineRate() <= 0) fuzz::Fail("no line rate");
        hotsync::DlpOpenConduit(*socket);
        socket->Version();
        hotsync::DlpEndOfSync(*socket, hotsync::kEndNormal);
        break;
    }
    socket->Close();
    return 0;
}
