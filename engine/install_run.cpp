#include "engine/install_run.h"

#include <chrono>

#include "engine/install_worker.h"
#include "session/device_session.h"

namespace {

constexpr int kStopTries = 11;
constexpr int kStopStepMs = 250;
constexpr int kForcedTries = 20;

}  // namespace

CInstallRun::~CInstallRun() {
    if (m_thread.joinable()) m_thread.join();
}

void CInstallRun::Start(CDeviceSession& session, const std::vector<std::string>& files, bool backup,
                        bool setTime, IInstallDoneSink* window) {
    if (m_thread.joinable()) m_thread.join();
    session.m_files.Clear();
    for (const std::string& path : files) session.m_files.Add(path);
    session.m_bBackup = backup ? 1 : 0;
    session.m_bSetTime = setTime ? 1 : 0;
    g_evStop.Reset();
    g_evAck.Reset();
    g_evPictureDone.Reset();
    g_pSession = &session;
    auto finished = std::make_shared<std::atomic<bool>>(false);
    m_pFinished = finished;
    m_thread = std::thread([window, finished] {
        InstallWorker(window);
        finished->store(true);
    });
}

void CInstallRun::Join() {
    if (m_thread.joinable()) m_thread.join();
}

bool CInstallRun::WaitFinished(int tries, int stepMs) const {
    for (int i = 0; i < tries && !IsFinished(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
    return IsFinished();
}

bool CInstallRun::Stop(CDeviceSession& session) {
    if (!m_thread.joinable()) return true;
    session.m_bCancel = 1;
    g_evStop.Set();
    bool ended = WaitFinished(kStopTries, kStopStepMs);
    if (!ended) {
        // The worker is stuck in a link request or a wait for the window: end both.
        if (hotsync::CSocket* socket = session.Socket()) socket->Close();
        g_evAck.Set();
        g_evPictureDone.Set();
        ended = WaitFinished(kForcedTries, kStopStepMs);
    }
    if (ended) {
        m_thread.join();
        return true;
    }
    m_thread.detach();
    return false;
}
