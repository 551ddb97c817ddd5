// Whole install runs against the virtual handheld over an in-process pipe: the session,
// the worker and the window's share of the run, with the handheld's card and request log
// read afterwards.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "engine/install_run.h"
#include "engine/install_worker.h"
#include "engine/transfer_view.h"
#include "engine/user_library.h"
#include "pdb/palm_db_file.h"
#include "session/device_session.h"
#include "session/link/fake_usb_backend.h"
#include "session/link/pipe_transport.h"
#include "tools/handheld/virtual_handheld.h"

namespace testsupport {

// The window: answers every message and keeps the run's codes.
class CTestView final : public ITransferView {
  public:
    CDeviceSession* session = nullptr;
    bool answer = true;
    std::vector<int> codes;
    std::vector<std::string> messages, statuses, tempFiles;
    std::string userDir, handheldUser;

    void SetStatus(const std::string& t) override { statuses.push_back(t); }
    void SetCaption(const std::string&) override {}
    void SetProgress(int, int) override {}
    void SetElapsed(const std::string&) override {}
    bool AskOkCancel(const std::string& t) override {
        codes.push_back(session ? session->m_nError.load() : -1);
        messages.push_back(t);
        return answer;
    }
    void AddTempFile(const std::string& path) override { tempFiles.push_back(path); }
    void StoreUserDir(const std::string& dir) override { userDir = dir; }
    void StoreHandheldUser(const std::string& name) override { handheldUser = name; }
};

class CDone final : public IInstallDoneSink {
  public:
    void PostInstallDone() override { ++posts; }
    std::atomic<int> posts{0};
};

// How the session reaches the handheld.
enum class RunLink {
    kPipe,        // the serial stack over an in-process pipe
    kNet,         // network HotSync over loopback TCP
    kUsbNetSync,  // a USB handheld on the fake bus speaking NetSync frames
    kUsbSerial,   // a USB handheld on the fake bus speaking the serial stack
    // A NetSync handheld on the fake bus, reached through the Windows logic over the fakes of
    // the handheld vendor's driver, or of WinUSB.
    kUsbVendorDriver,
    kUsbWinUsb,
};
const char* RunLinkName(RunLink link);
inline void PrintTo(RunLink link, std::ostream* out) {
    *out << RunLinkName(link);
}

// A fixture that runs the worker against a virtual handheld made from `config`.
class CWorkerRunFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& name) const { return m_dir + name; }

    // Starts the handheld and accepts it as the window's poll would.
    void Connect();
    // One run over the files; onTick runs on the window's thread at every tick.
    void Run(const std::vector<std::string>& files, bool backup = false, bool setTime = false,
             const std::function<void(CInstallRun&)>& onTick = {});

    int CountRequests(const std::string& name, const std::string& argsPart = "") const;
    bool Requested(const std::string& name, const std::string& argsPart = "") const {
        return CountRequests(name, argsPart) > 0;
    }

    handheld::HandheldConfig config;
    RunLink link = RunLink::kPipe;
    RunPlacement placement;  // where the run's files go
    CTestView view;
    CDone m_done;
    // Converts pictures on the window's side when set.
    IPictureConverter* pictureConverter = nullptr;
    int failed = -1;
    int bytesSent = 0;
    std::vector<handheld::RequestLogEntry> requests;
    std::unique_ptr<handheld::CVirtualHandheld> m_hh;
    std::unique_ptr<CDeviceSession> m_session;
    ports::PipePair m_pipe;
    std::unique_ptr<hotsync::ITransport> m_netLine;  // the network handheld's connection
    std::shared_ptr<ports::CFakeUsbBus> m_bus;
    std::string m_dir;
    IUserLibrary* m_savedLibrary = g_pUserLibrary;
};

// The handheld's database against the file it came from, field by field and byte by byte.
// dlp10: the deleted and archived records of the file were not sent.
void ExpectSameAsFile(const handheld::HandheldDatabase& db, const std::string& path,
                      bool dlp10 = false);

// Entries and header fields of a database file the handheld wrote out against the source.
void ExpectSameEntries(pdb::CPalmDbFile& got, const std::string& sourcePath);

// All databases in a directory the handheld wrote out.
std::vector<std::unique_ptr<pdb::CPalmDbFile>> CardFiles(const std::string& dir);

}  // namespace testsupport
