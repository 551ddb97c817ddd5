// The USB lookup end to end on hostile devices: the shipped libusb backend on the libusb
// double, a device made from the input (any known model's ids, hostile descriptors, answers
// to every control request, longer ones than asked among them, a preamble, a kernel driver,
// a device that goes while it is opened), looked for and taken as the window's poll does.
// Nothing may crash or hang, and every handle and device reference comes back.
#include <map>

#include "fuzz/fuzz_target.h"
#include "session/link/usb_handheld.h"
#include "session/link/usb_transport.h"
#include "tests/libusb_double/libusb_double.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    usbdouble::CBus& bus = usbdouble::CBus::Get();
    bus.Reset();
    bus.InstantTimeouts(true);
    fuzz::CInput in(data, size);

    usbdouble::DeviceModel m;
    const auto models = ports::usb::Models();
    const ports::usb::Model& model = models[in.U8() % models.size()];
    m.vendorId = model.vendorId;
    m.productId = model.productId;
    const uint8_t flags = in.U8();
    m.kernelDriver = flags & 0x01;
    m.detachRefused = flags & 0x02;
    m.vanishOnOpen = (flags & 0x0C) == 0x0C;
    m.accessDenied = (flags & 0x30) == 0x30;
    m.configurations = flags & 0x40 ? 0 : 1;
    m.ports.assign(in.U8() % 8, 1);
    const size_t interfaces = in.U8() % 3;
    for (size_t i = 0; i < interfaces; ++i) {
        usbdouble::Interface intf;
        intf.number = in.U8();
        const size_t count = in.U8() % 8;
        for (size_t e = 0; e < count; ++e) {
            intf.endpoints.push_back({in.U8(), in.U8(), in.U16()});
        }
        m.interfaces.push_back(intf);
    }
    m.interruptEndpoint = in.U8();
    m.interruptBytes = in.Chunk();
    // Answers by request code, a few of them refused or longer than asked.
    std::map<uint8_t, usbdouble::Reply> replies;
    for (int i = 0; i < 6; ++i) {
        const uint8_t code = in.U8();
        const uint8_t how = in.U8();
        replies[code] = usbdouble::Reply{(how & 3) == 0, in.Chunk(), (how & 3) == 1};
    }
    m.control = [replies](const usbdouble::ControlRequest& r, int) {
        const auto it = replies.find(r.request);
        return it == replies.end() ? usbdouble::Reply::Stall() : it->second;
    };
    bus.Plug(std::move(m));

    {
        ports::CUsbTransport transport(ports::CreateLibusbBackend());
        if (transport.Open() == 0) {
            if (transport.LookForHandheld(1) == 1) transport.Connect(1);
            transport.Close();
        }
    }
    if (bus.OpenHandles() != 0) fuzz::Fail("a device handle was not closed");
    if (bus.DeviceRefs() != 0) fuzz::Fail("a listed device was not given back");
    return 0;
}
