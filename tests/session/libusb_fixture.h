// Sessions on "USB" over the shipped libusb backend, which these test programs build against
// the libusb double: handheld families plugged into the double's bus, the virtual handheld
// behind each one's HotSync endpoints.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "session/device_session.h"
#include "session/link/pipe_transport.h"
#include "tests/libusb_double/libusb_double.h"
#include "tests/libusb_double/palm_models.h"
#include "tools/handheld/virtual_handheld.h"

class LibusbBus : public ::testing::Test {
  protected:
    using Family = usbdouble::palm::Family;

    usbdouble::CBus& Bus() { return usbdouble::CBus::Get(); }

    void SetUp() override { Bus().Reset(); }

    void TearDown() override { Fresh(); }

    // Unplugs everything and stops the handhelds: a fresh bus for the next case.
    void Fresh() {
        for (auto& hh : m_handhelds) hh->Stop();
        // Every handle and listed device was given back.
        EXPECT_EQ(Bus().OpenHandles(), 0);
        EXPECT_EQ(Bus().DeviceRefs(), 0);
        Bus().Reset();
        m_handhelds.clear();
        m_handheldEnds.clear();
    }

    // The handheld's side for a family: its framing and quick time-outs.
    handheld::HandheldConfig Config(const Family& family) {
        handheld::HandheldConfig config;
        config.netSync = config.usb = family.framing == hotsync::Framing::kNetSync;
        config.timeoutSec = 8;
        config.receiveTimeoutMs = 4000;
        config.wakeupIntervalMs = 200;
        return config;
    }

    // Plugs the family in with a virtual handheld behind its HotSync pair; its id.
    int Plug(Family family) { return Plug(family, Config(family)); }
    int Plug(Family family, const handheld::HandheldConfig& config) {
        auto pipe = ports::CreatePipePair();
        family.model.line = std::shared_ptr<hotsync::ITransport>(std::move(pipe.desktop));
        m_handheldEnds.push_back(std::move(pipe.handheld));
        m_handhelds.push_back(std::make_unique<handheld::CVirtualHandheld>(config));
        EXPECT_TRUE(m_handhelds.back()->Start(*m_handheldEnds.back()));
        return Bus().Plug(std::move(family.model));
    }
    handheld::CVirtualHandheld& Handheld(size_t i = 0) { return *m_handhelds.at(i); }

    // A session on "USB", as the window makes it.
    std::unique_ptr<CDeviceSession> Session(int acceptMs = 3000) {
        auto session = std::make_unique<CDeviceSession>("USB", true, -1);
        hotsync::LinkTimeouts t;
        t.acceptMs = acceptMs;
        t.receiveMs = 2000;
        session->SetLinkTimeouts(t);
        return session;
    }

    // Polls as the window's timer does, for about two seconds.
    static bool Pressed(CDeviceSession& session) {
        for (int i = 0; i < 8; ++i) {
            if (session.IsHotSyncPressed()) return true;
        }
        return false;
    }

    // Press, accept, the system facts, the end of the sync; true when all went.
    static bool Sync(CDeviceSession& session) {
        if (!Pressed(session) || !session.Accept()) return false;
        const bool ok = session.ReadSysInfo() == 0 && session.EndOfSync(0) == 0;
        session.Close();
        return ok;
    }

  private:
    std::vector<std::unique_ptr<hotsync::ITransport>> m_handheldEnds;
    std::vector<std::unique_ptr<handheld::CVirtualHandheld>> m_handhelds;
};
