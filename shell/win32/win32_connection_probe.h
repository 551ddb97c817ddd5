// The connection probe on Windows: the communication ports the system knows (COM1 and up,
// as its device map lists them) and whether each opens, USB (the handheld vendor's driver,
// WinUSB and the handhelds it sees), and the network HotSync port by trying to bind it. The
// Linux services are not looked for (see linuxServices).
#pragma once

#include "shell/connection_probe.h"

class CWin32ConnectionProbe final : public IConnectionProbe {
  public:
    ConnectionFacts Probe(bool thorough, const std::string& netAddress, uint16_t netPort) override;
};
