// Files put on the handheld's memory card through the expansion and VFS requests: the card
// chosen once per run, then each file written to /PALM/Launcher/ under its own name, where
// the launcher shows it. A file of that name is replaced.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "hotsync/hotsync.h"

// Results of a card install besides 0 and the session's kInstall... results.
inline constexpr int kCardNoExpansion = 30;  // the handheld answers card requests "illegal"
inline constexpr int kCardNone = 31;         // no card, or not the one asked for
inline constexpr int kCardReadOnly = 32;     // the card is write-protected
inline constexpr int kCardFull = 33;         // the file does not fit (64 KB stay free)
inline constexpr int kCardWriteFailed = 34;  // the card refused a request (pulled out, ...)
inline constexpr int kCardBadName = 35;      // over 255 bytes, or with "/" or "\"

// Which card: the Nth volume (1-based) or the one with this label; neither: the first.
struct CardSelector {
    int number = 0;
    std::string label;
};
// "2" or "SD CARD": a number from 1 on is a position, anything else a label.
CardSelector ParseCardSelector(const std::string& text);

// The folder card files go to, and the space a card keeps free.
inline constexpr const char* kCardLauncherDir = "/PALM/Launcher";
inline constexpr uint32_t kCardReserve = 65536;
// Data per VFSFileWrite: a few seconds of the slowest line, so that progress moves.
inline constexpr size_t kCardChunk = 16384;

// A name the card can hold: 1 to 255 bytes, no "/", "\" or NUL.
bool IsCardFileName(const std::string& name);

class CCardWriter {
  public:
    explicit CCardWriter(hotsync::CSocket& socket) : m_socket(socket) {}

    // Finds the card once per run; later calls give the first call's result. 0, or
    // kCardNoExpansion, kCardNone, kCardReadOnly, or a negative link result.
    int Select(const CardSelector& selector);
    const std::string& Label() const { return m_label; }
    // Free bytes on the card less the reserve; false when the card cannot say.
    bool FreeSpace(uint32_t& free);

    // Writes the bytes as /PALM/Launcher/<name>, replacing a file of that name; the
    // length is then read back. progress(n) tells every n bytes the card took. 0 when
    // written and confirmed (also after a cancel: the partial file is then deleted), else
    // a kCard... result, kInstallVerifyFailed when the length read back differs, or
    // kInstallLinkBroken. Nothing half-written is left where it can be deleted.
    int Write(const std::string& name, const std::vector<uint8_t>& data,
              const std::function<void(uint32_t)>& progress, const std::atomic<uint8_t>& cancel);

  private:
    // The kCard... result for a failed request.
    int Failure(int r) const;
    int MakeLauncherDir();
    int WriteOpen(uint32_t fileRef, const std::vector<uint8_t>& data,
                  const std::function<void(uint32_t)>& progress,
                  const std::atomic<uint8_t>& cancel);

    hotsync::CSocket& m_socket;
    bool m_bSelected = false;
    int m_nSelectResult = 0;
    int m_nVolRef = 0;
    int m_nSlotRef = 0;
    bool m_bSlotBased = false;
    bool m_bDirMade = false;
    std::string m_label;
};
