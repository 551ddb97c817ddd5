#include "engine/install_run.h"

#include <chrono>

#include "engine/install_worker.h"
#include "session/device_session.h"

namespace {

constexpr int kStopTries = 11;
constexpr int kStopStepMs = 250;
constexpr int kForcedTries = 20;

}  // namespace

void CInstallRun::CFinished::Set() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bSet = true;
    }
    m_cv.notify_all();
}

bool CInstallRun::CFinished::IsSet() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bSet;
}

bool CInstallRun::CFinished::WaitFor(int ms) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_cv.wait_for(guard, std::chrono::milliseconds(ms), [this] { return m_bSet; });
}

CInstallRun::~CInstallRun() {
    if (m_thread.joinable()) m_thread.join();
}

void CInstallRun::Start(CDeviceSession& session, const std::vector<std::string>& files, bool backup,
                        bool setTime, IInstallDoneSink* window, const RunPlacement& placement) {
    if (m_thread.joinable()) m_thread.join();
    session.m_files.Clear();
    for (const std::string& path : files) session.m_files.Add(path);
    session.m_bBackup = backup ? 1 : 0;
    session.m_bSetTime = setTime ? 1 : 0;
    session.m_nDestination = placement.destination;
    session.m_strCard = placement.card;
    session.m_bVerify = placement.verify ? 1 : 0;
    g_evStop.Reset();
    g_evAck.Reset();
    g_evPictureDone.Reset();
    g_pSession = &session;
    auto finished = std::make_shared<CFinished>();
    m_pFinished = finished;
    m_thread = std::thread([window, finished] {
        InstallWorker(window);
        finished->Set();
    });
}

void CInstallRun::Join() {
    if (m_thread.joinable()) m_thread.join();
}

bool CInstallRun::WaitFinished(int tries, int stepMs) const {
    if (!m_pFinished) return false;
    for (int i = 0; i < tries; ++i) {
        if (m_pFinished->WaitFor(stepMs)) return true;
    }
    return false;
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
