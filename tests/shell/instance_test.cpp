// The single-instance services: the key, the private directory, the lock a crashed holder
// leaves free, and the local socket with its messages, well-formed and not.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "shell/hand_over_slots.h"
#include "shell/linux/instance_channel.h"
#include "shell/linux/instance_lock.h"
#include "shell/memory_settings.h"

namespace {

namespace fs = std::filesystem;

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "shell_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

class Instance : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        // Short: a socket's whole path must fit in 107 bytes.
        static int s_nTest = 0;
        m_dir = fs::temp_directory_path() /
                ("cci-" + std::to_string(::getpid()) + "-" + std::to_string(++s_nTest));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        ::unsetenv("XDG_RUNTIME_DIR");
        ::unsetenv("TMP");
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(m_dir);
    }
    // A private directory for the channel.
    std::string Private() {
        const std::string dir = (m_dir / "run").string();
        ::mkdir(dir.c_str(), 0700);
        return dir;
    }
    // Runs fn on another thread while this one serves events; fn's result.
    template <typename Fn>
    auto WhileServing(Fn fn) {
        std::atomic<bool> bDone{false};
        decltype(fn()) result{};
        std::thread t([&] {
            result = fn();
            bDone = true;
        });
        while (!bDone) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        t.join();
        QCoreApplication::processEvents();
        return result;
    }
    fs::path m_dir;
};

TEST_F(Instance, KeyIsTheSameForOneProgramFileOnly) {
    const std::string prog = (m_dir / "ccourier").string();
    std::ofstream(prog) << "x";
    const std::string key = instance::MakeInstanceKey("ccourier", prog);
    EXPECT_TRUE(
        std::regex_match(key, std::regex("ccourier:[1-9a-f][0-9a-f]*:8:[1-9a-f][0-9a-f]*:0")))
        << key;
    EXPECT_EQ(instance::MakeInstanceKey("ccourier", prog), key);
    const std::string copy = (m_dir / "copy").string();
    fs::copy_file(prog, copy);
    EXPECT_NE(instance::MakeInstanceKey("ccourier", copy), key);
    EXPECT_EQ(instance::MakeInstanceKey("ccourier", (m_dir / "none").string()), "ccourier:0:8");

    const std::string longKey = std::string(200, 'n') + ":803:8:1f:0";
    const std::string name = instance::KeyFileName(longKey);
    EXPECT_LE(name.size(), 40u);
    EXPECT_NE(name, instance::KeyFileName(std::string(200, 'n') + ":803:8:20:0"));
    EXPECT_EQ(instance::KeyFileName("ccourier:803:8:1f:0"), "ccourier:803:8:1f:0");
}

TEST_F(Instance, RuntimeDirectoryIsPrivateOrRefused) {
    const fs::path runtime = m_dir / "xdg";
    fs::create_directories(runtime);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("TMP", m_dir.c_str(), 1);
    EXPECT_EQ(instance::PrivateRuntimeDir(), (runtime / "Cradlecourier").string());
    struct stat st {};
    ASSERT_EQ(::stat((runtime / "Cradlecourier").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Others may enter: not used; the temporary directory stands in.
    ::chmod((runtime / "Cradlecourier").c_str(), 0755);
    const std::string fallback =
        (m_dir / ("Cradlecourier-" + std::to_string(::geteuid()))).string();
    EXPECT_EQ(instance::PrivateRuntimeDir(), fallback);

    // A link planted in the shared directory is not followed.
    fs::remove(fallback);
    fs::create_directory_symlink(runtime, fallback);
    EXPECT_EQ(instance::PrivateRuntimeDir(), "");

    // Places too deep for a socket's address are passed over, down to /tmp's.
    const fs::path deep = m_dir / std::string(60, 'd');
    fs::create_directories(deep);
    ::setenv("XDG_RUNTIME_DIR", deep.c_str(), 1);
    fs::remove(fallback);
    EXPECT_EQ(instance::PrivateRuntimeDir(), fallback);
    ::setenv("TMP", deep.c_str(), 1);
    EXPECT_EQ(instance::PrivateRuntimeDir(), "/tmp/Cradlecourier-" + std::to_string(::geteuid()));
}

TEST_F(Instance, LockOfADeadHolderIsFree) {
    const std::string path = (m_dir / "k.lock").string();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        CFileLock lock;
        const char c = lock.TryLock(path) ? 'y' : 'n';
        (void)!::write(fds[1], &c, 1);
        ::pause();  // held until killed, never released by us
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(fds[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    CFileLock lock;
    bool bBusy = false;
    EXPECT_FALSE(lock.TryLock(path, &bBusy));
    EXPECT_TRUE(bBusy);
    EXPECT_FALSE(lock.Lock(path, 50));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_TRUE(lock.Lock(path, 1000));
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST_F(Instance, FirstServesSecondSendsAndWaitsForTheAnswer) {
    const std::string dir = Private();
    CLocalInstanceChannel first("ccourier:1:8:2:0", dir);
    ASSERT_EQ(first.Open(), IInstanceChannel::Role::kFirst);
    struct stat st {};
    ASSERT_EQ(::stat(first.SocketPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);
    std::vector<InstanceMessage> got;
    first.SetHandler([&](const InstanceMessage& m) {
        got.push_back(m);
        return m.nLParam * 2;
    });

    CLocalInstanceChannel second("ccourier:1:8:2:0", dir);
    ASSERT_EQ(second.Open(), IInstanceChannel::Role::kSecond);
    const int32_t answer = WhileServing([&] {
        int32_t n = -1;
        return second.Send({handover::kMessageName, 1970, 21}, 5000, &n) ? n : -1;
    });
    EXPECT_EQ(answer, 42);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].strName, "CCourier new");
    EXPECT_EQ(got[0].nWParam, 1970);

    // Another program file has another key and is first of its own.
    CLocalInstanceChannel other("ccourier:1:8:3:0", dir);
    EXPECT_EQ(other.Open(), IInstanceChannel::Role::kFirst);
}

// A raw client: writes bytes, returns what came back before the server hung up.
std::string RawExchange(const std::string& socketPath, const std::string& bytes) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return "no connection";
    }
    (void)!::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);  // nothing more comes
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string reply;
    char buf[256];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) reply.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return reply;
}

TEST_F(Instance, MalformedAndOversizedMessagesAreDropped) {
    CLocalInstanceChannel first("k", Private());
    ASSERT_EQ(first.Open(), IInstanceChannel::Role::kFirst);
    int nCalls = 0;
    first.SetHandler([&](const InstanceMessage&) { return ++nCalls; });
    for (const std::string& bad :
         {std::string("MSG 1970\n"), std::string("MSG 1970 x CCourier new\n"),
          std::string("MSG 99999999999 1 CCourier new\n"), std::string("MSG 1 1 \n"),
          std::string("MSG 1 1 bad\tname\n"), std::string("HELLO\n"),
          "MSG 1970 1 " + std::string(200, 'a') + "\n", std::string(5000, 'x'),
          std::string("MSG 1970 1 CCourier new")}) {  // no line end: dropped when it leaves
        EXPECT_EQ(WhileServing([&] { return RawExchange(first.SocketPath(), bad); }), "")
            << bad.substr(0, 40);
    }
    EXPECT_EQ(nCalls, 0);
    // Still serving.
    EXPECT_EQ(
        WhileServing([&] { return RawExchange(first.SocketPath(), "MSG 1970 3 CCourier new\n"); }),
        "OK 1\n");
    EXPECT_EQ(nCalls, 1);
}

TEST_F(Instance, AnotherUserCannotReachTheSocket) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    CLocalInstanceChannel first("k", Private());
    ASSERT_EQ(first.Open(), IInstanceChannel::Role::kFirst);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(RawExchange(first.SocketPath(), "MSG 1970 1 CCourier new\n") == "no connection"
                    ? 0
                    : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(Instance, StaleSocketIsReplacedAndNobodyMeansATimeOut) {
    const std::string dir = Private();
    CLocalInstanceChannel probe("k", dir);
    // A socket file left by a first instance that was killed.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", probe.SocketPath().c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    {
        // A second instance finds nobody there: it gives up after its time-out.
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(probe.Send({"CCourier new", 1970, 1}, 300));
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - t0)
                            .count();
        EXPECT_GE(ms, 250);
        EXPECT_LT(ms, 3000);
    }
    CLocalInstanceChannel first("k", dir);
    EXPECT_EQ(first.Open(), IInstanceChannel::Role::kFirst);
    // No directory: nothing to serve, and a send does not wait.
    CLocalInstanceChannel none("k", "");
    EXPECT_EQ(none.Open(), IInstanceChannel::Role::kNoServer);
    EXPECT_FALSE(none.Problem().empty());
    EXPECT_FALSE(none.Send({"CCourier new", 1970, 1}, 60000));
}

TEST(HandOverSlots, FreeSlotsInOrderAndNoMoreThan255) {
    CMemorySettings s;
    s.WriteText("Register", "Name0", "/x/taken.prc");
    s.WriteText("Register", "Name2", "");  // empty counts as free
    EXPECT_EQ(handover::WriteSlots(s, {"/a.prc", "/b.prc"}, ""), 2u);
    EXPECT_EQ(s.ReadText("Register", "Name0", ""), "/x/taken.prc");
    EXPECT_EQ(s.ReadText("Register", "Name1", ""), "/a.prc");
    EXPECT_EQ(s.ReadText("Register", "Name2", ""), "/b.prc");

    std::vector<std::string> many;
    for (int i = 0; i < 300; ++i) many.push_back("/f" + std::to_string(i));
    EXPECT_EQ(handover::WriteSlots(s, many, ""), 252u);
    EXPECT_EQ(s.ReadText("Register", "Name254", ""), "/f251");
    handover::DeleteSlots(s);
    for (int i = 0; i < 255; ++i) EXPECT_FALSE(s.Has("Register", handover::SlotName(i)));
}

}  // namespace
