// USB where a handheld may be reached more than one way (on Windows: the vendor's driver, or
// WinUSB): each lookup asks every way in turn, and the one that found the handheld carries
// the connection until it is dropped.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "hotsync/transport.h"

namespace ports {

class CUsbEitherTransport final : public hotsync::ITransport {
  public:
    // The ways in the order they are asked; at least one.
    explicit CUsbEitherTransport(std::vector<std::unique_ptr<hotsync::ITransport>> ways);

    // Opens every way; fails (errno from the first) only when none opens.
    int Open() override;
    void Close() override;
    int SetRate(int) override { return 0; }
    int Read(uint8_t* buffer, size_t size, int timeoutMs) override;
    int Write(const uint8_t* data, size_t size) override;
    void Interrupt() override;
    hotsync::Framing LinkFraming() const override { return hotsync::Framing::kDetect; }
    // Every 100 ms while the budget lasts (as each way counts it), one look through each way.
    int LookForHandheld(int budgetMs) override;
    int Connect(int timeoutMs) override;
    void Disconnect() override;

    // The way that found the handheld (its index), -1 while none has.
    int Chosen() const { return m_chosen.load(); }

  private:
    std::vector<std::unique_ptr<hotsync::ITransport>> m_ways;
    std::vector<bool> m_open;
    std::atomic<int> m_chosen{-1};  // read by Interrupt from another thread
    std::atomic<bool> m_interrupted{false};
};

}  // namespace ports
