// Tells the handheld's framing apart by its first bytes: USB handhelds, and serial lines
// behind a USB-serial driver, speak either the serial stack (SLP frames) or NetSync frames,
// and the model alone does not always say which.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "hotsync/transport.h"

namespace hotsync {

// kSerial at a valid SLP header, kNetSync at a NetSync frame that carries the handheld's
// hello (or at that hello without its header, or at a network HotSync announcement that
// comes before it); kDetect while the bytes do not tell yet.
// start receives the offset of the recognised header, or of the first byte that may still
// begin one (what lies before it is noise).
Framing DetectFraming(std::span<const uint8_t> bytes, size_t& start);

}  // namespace hotsync
