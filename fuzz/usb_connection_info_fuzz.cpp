// What a USB handheld tells about its functions, hostile: the plain and the extended
// connection information and the unasked preamble, then the choice of the HotSync bulk
// endpoints among hostile descriptors under each model rule. Whatever comes, a told number
// is an endpoint number and the pipes chosen are bulk endpoints the device has.
#include "fuzz/fuzz_target.h"
#include "session/link/usb_connection_info.h"
#include "session/link/usb_handheld.h"

namespace {

using namespace ports::usb;

void CheckTold(Answer answer, const HotSyncPort& port) {
    if (answer != Answer::kHotSync) return;
    if (port.inNumber > kMaxEndpointNumber || port.outNumber > kMaxEndpointNumber) {
        fuzz::Fail("a told endpoint number above 15");
    }
}

void CheckPipes(const std::vector<ports::UsbEndpoint>& endpoints, const HotSyncPort& port) {
    for (const PipeRule rule :
         {PipeRule::kTold, PipeRule::kFirstInSecondOut, PipeRule::kFirstInSecondOutIfInterrupt}) {
        const auto pipes = ChoosePipes(endpoints, port, rule);
        if (!pipes) continue;
        const auto has = [&](uint8_t address, bool in) {
            for (const auto& ep : endpoints) {
                if (ep.address == address &&
                    (ep.attributes & ports::kUsbTransferTypeMask) == ports::kUsbTransferBulk &&
                    ((address & ports::kUsbEndpointIn) != 0) == in &&
                    (address & ports::kUsbEndpointReservedMask) == 0) {
                    return true;
                }
            }
            return false;
        };
        if (!has(pipes->in, true) || !has(pipes->out, false)) {
            fuzz::Fail("a pipe that is no bulk endpoint of the device");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CInput in(data, size);
    const std::vector<uint8_t> plain = in.Chunk();
    const std::vector<uint8_t> ext = in.Chunk();
    const std::vector<uint8_t> preamble = in.Chunk();
    std::vector<ports::UsbEndpoint> endpoints;
    while (in.Left() >= 3 && endpoints.size() < 32) {
        const uint8_t address = in.U8();
        const uint8_t attributes = in.U8();
        endpoints.push_back({address, attributes, uint16_t(in.U8() << 2)});
    }
    HotSyncPort port;
    CheckTold(DecodeConnectionInfo(plain, port), port);
    CheckPipes(endpoints, port);
    port = HotSyncPort{};
    CheckTold(DecodeExtConnectionInfo(ext, port), port);
    CheckPipes(endpoints, port);
    port = HotSyncPort{};
    CheckTold(DecodePreamble(preamble, port), port);
    CheckPipes(endpoints, port);
    FindHotSyncPort(plain);
    FindHotSyncExtPort(ext);
    return 0;
}
