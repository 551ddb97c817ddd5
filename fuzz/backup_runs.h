// The desktop's side of the whole-handheld backup target and its seeds: the list of
// databases, each read whole into a file, or backup copies put back.
#pragma once

#include <cstdint>
#include <memory>

#include "hotsync/transport.h"

namespace fuzz {

// Accepts the handheld and, with mode bit 0, restores the session files (a record database
// and a resource database) onto it; else lists its RAM and reads up to a few databases whole
// into files (bit 1: the rate is the handheld's choice). The link's time-outs are short.
void RunBackupDesktop(uint8_t mode, std::unique_ptr<hotsync::ITransport> line);

}  // namespace fuzz
