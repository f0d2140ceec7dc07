// EngineSocket: preconditions, connect outcomes, readability, peer close,
// whole-message sends from several threads, and stopping a stuck sender.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "support/RdcpPeer.h"
#include "client/engine/net/EngineSocket.h"
#include "support/TestSupport.h"

namespace rd {
namespace {

using namespace std::chrono_literals;
using rdtest::ScriptedPeer;
using rdtest::WaitFor;

class TestSocket : public EngineSocket {
 public:
  ~TestSocket() override { Close(); }
  using EngineSocket::StartSender;
  using EngineSocket::StopSender;

  std::atomic<int> connects{0}, connect_error{-1}, closes{0}, receives{0}, receives_after_close{0};
  std::atomic<std::size_t> bytes{0};
  std::atomic<int> sends_started{0}, sends_done{0};
  // When set, the sender thread sends this buffer over and over.
  std::vector<uint8_t> flood;

 protected:
  void OnConnect(int error) override {
    connect_error = error;
    ++connects;
  }
  void OnClose(int) override { ++closes; }
  void OnReceive(int error) override {
    ++receives;
    if (closes > 0) ++receives_after_close;
    if (error != 0) return;
    uint8_t buf[2048];
    int n = 0;
    if (Receive(&n, buf, sizeof buf) != engine::kOk) return;
    if (n == 0) {
      if (MarkPeerClosed()) OnClose(0);
      return;
    }
    bytes += static_cast<std::size_t>(n);
  }
  void RunSender() override {
    while (SenderShouldRun()) {
      if (!flood.empty() && IsConnected()) {
        ++sends_started;
        Send(flood.data(), flood.size());
        ++sends_done;
      } else
        std::this_thread::sleep_for(1ms);
    }
  }
};

uint16_t UnusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

TEST(EngineSocket, PreconditionsAreReportedByCode) {
  TestSocket s;
  EXPECT_EQ(s.SetRemote("127.0.0.1", 1), engine::kSocketNotCreated);
  EXPECT_EQ(s.Close(), engine::kSocketNotCreated);
  uint8_t b[4] = {};
  int n = 5;
  EXPECT_EQ(s.Send(b, 4), engine::kNotConnected);
  EXPECT_EQ(s.Receive(&n, b, 4), engine::kNotConnected);
  EXPECT_EQ(s.StopSender(), engine::kSenderNotRunning);
  ASSERT_EQ(s.Create(), engine::kOk);
  EXPECT_TRUE(s.IsCreated());
  EXPECT_FALSE(s.IsConnected());
  EXPECT_EQ(s.Create(), engine::kSocketAlreadyCreated);
  EXPECT_EQ(s.StartSender(), engine::kOk);
  EXPECT_EQ(s.StartSender(), engine::kSenderAlreadyRunning);
  EXPECT_EQ(s.StopSender(), engine::kOk);
  EXPECT_EQ(s.StopSender(), engine::kSenderNotRunning);
  EXPECT_EQ(s.Close(), engine::kOk);
  EXPECT_FALSE(s.IsCreated());
}

TEST(EngineSocket, RefusedConnectIsReportedWithTheErrnoAndNoReceive) {
  TestSocket s;
  ASSERT_EQ(s.Create(), engine::kOk);
  ASSERT_EQ(s.SetRemote("127.0.0.1", UnusedPort()), engine::kOk);
  ASSERT_TRUE(WaitFor([&] { return s.connects.load() == 1; }));
  EXPECT_EQ(s.connect_error.load(), ECONNREFUSED);
  EXPECT_FALSE(s.IsConnected());
  EXPECT_EQ(s.receives.load(), 0);

  // An address that does not parse is a connect failure too.
  ASSERT_EQ(s.SetRemote("300.1.2.3", 80), engine::kOk);
  ASSERT_TRUE(WaitFor([&] { return s.connects.load() == 2; }));
  EXPECT_EQ(s.connect_error.load(), EINVAL);
}

TEST(EngineSocket, ReceivesDataAndReportsPeerCloseOnce) {
  ScriptedPeer peer;
  TestSocket s;
  ASSERT_EQ(s.Create(), engine::kOk);
  ASSERT_EQ(s.SetRemote("127.0.0.1", peer.port()), engine::kOk);
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(WaitFor([&] { return s.connects.load() == 1; }));
  EXPECT_EQ(s.connect_error.load(), 0);
  EXPECT_TRUE(s.IsConnected());

  ASSERT_TRUE(peer.Write(std::vector<uint8_t>(5000, 0x42)));
  ASSERT_TRUE(WaitFor([&] { return s.bytes.load() == 5000; }));
  peer.CloseClient();
  ASSERT_TRUE(WaitFor([&] { return s.closes.load() == 1; }));
  EXPECT_FALSE(s.IsConnected());
  // Nothing further arrives once the peer has gone.
  EXPECT_FALSE(
      WaitFor([&] { return s.closes.load() > 1 || s.receives_after_close.load() > 0; }, 100ms));
  EXPECT_EQ(s.Close(), engine::kOk);
}

TEST(EngineSocket, ConcurrentSendsNeverInterleave) {
  ScriptedPeer peer;
  TestSocket s;
  ASSERT_EQ(s.Create(), engine::kOk);
  ASSERT_EQ(s.SetRemote("127.0.0.1", peer.port()), engine::kOk);
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(WaitFor([&] { return s.IsConnected(); }));

  // Four threads each send 8 messages of 65535 bytes filled with their own
  // value; large messages are written in several partial sends.
  constexpr std::size_t kLen = 65535;
  constexpr int kThreads = 4, kEach = 8;
  std::atomic<int> failures{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      std::vector<uint8_t> msg(kLen, static_cast<uint8_t>(t + 1));
      for (int i = 0; i < kEach; ++i)
        if (s.Send(msg.data(), msg.size()) != engine::kOk) ++failures;
    });
  }
  std::vector<uint8_t> got;
  got.reserve(kLen * kThreads * kEach);
  while (got.size() < kLen * kThreads * kEach) {
    uint8_t buf[65536];
    ssize_t n = ::recv(peer.client_fd(), buf, sizeof buf, 0);
    ASSERT_GT(n, 0);
    got.insert(got.end(), buf, buf + n);
  }
  for (auto& t : senders) t.join();
  EXPECT_EQ(failures.load(), 0);
  int counts[kThreads + 1] = {};
  for (std::size_t m = 0; m < got.size(); m += kLen) {
    uint8_t v = got[m];
    ASSERT_GE(v, 1);
    ASSERT_LE(v, kThreads);
    for (std::size_t i = 1; i < kLen; ++i) ASSERT_EQ(got[m + i], v) << "interleaved at " << m + i;
    ++counts[v];
  }
  for (int t = 1; t <= kThreads; ++t) EXPECT_EQ(counts[t], kEach);
}

TEST(EngineSocket, StopSenderWakesASenderStuckOnAPeerThatDoesNotRead) {
  ScriptedPeer peer;
  TestSocket s;
  s.flood.assign(65535, 0x55);
  ASSERT_EQ(s.Create(), engine::kOk);
  ASSERT_EQ(s.SetRemote("127.0.0.1", peer.port()), engine::kOk);
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(WaitFor([&] { return s.IsConnected(); }));
  ASSERT_EQ(s.StartSender(), engine::kOk);
  // Let the sender fill the socket buffers (the peer never reads) until a
  // send stays unfinished.
  bool blocked = false;
  int last_done = -1, still = 0;
  for (int i = 0; i < 200 && !blocked; ++i) {
    std::this_thread::sleep_for(25ms);
    int done = s.sends_done.load();
    still = (done == last_done && s.sends_started.load() > done) ? still + 1 : 0;
    last_done = done;
    blocked = still >= 4;
  }
  ASSERT_TRUE(blocked);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(s.StopSender(), engine::kOk);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  std::printf("StopSender with a blocked send returned after %lld ms\n",
              static_cast<long long>(ms));
  EXPECT_LT(ms, 1500);
  EXPECT_EQ(s.Close(), engine::kOk);
}

TEST(EngineSocket, CloseDuringAConnectReturnsAtOnce) {
  // A peer whose listen queue is full leaves new connects pending.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::listen(fd, 0);
  std::vector<std::unique_ptr<TestSocket>> fillers;
  for (int i = 0; i < 4; ++i) {
    fillers.push_back(std::make_unique<TestSocket>());
    fillers.back()->Create();
    fillers.back()->SetRemote("127.0.0.1", ntohs(a.sin_port));
  }
  auto s = std::make_unique<TestSocket>();
  ASSERT_EQ(s->Create(), engine::kOk);
  ASSERT_EQ(s->SetRemote("127.0.0.1", ntohs(a.sin_port)), engine::kOk);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(s->Close(), engine::kOk);
  fillers.clear();
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  EXPECT_LT(ms, 1000);
  ::close(fd);
}

}  // namespace
}  // namespace rd
