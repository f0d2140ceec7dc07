// Stopping a control session whatever the peer does, and many connect / open
// / close cycles without leaked descriptors or threads.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include "support/RdcpPeer.h"
#include "client/engine/rdcp/RdcpSession.h"
#include "support/TestSupport.h"

namespace rd {
namespace {

using namespace std::chrono_literals;
using rdtest::Msg;
using rdtest::RecordingSink;
using rdtest::ScriptedPeer;
using rdtest::WaitFor;

// Counts callbacks that arrive after `closed` has been set.
class GuardSink : public RecordingSink {
 public:
  std::atomic<bool> closed{false};
  std::atomic<int> late{0};
  void OnCtrlConnect(int e) override {
    Late();
    RecordingSink::OnCtrlConnect(e);
  }
  void OnCtrlClose(int e) override {
    Late();
    RecordingSink::OnCtrlClose(e);
  }
  void OnCtrlReceiveError(int e) override {
    Late();
    RecordingSink::OnCtrlReceiveError(e);
  }
  void OnRdcpReply(int t, int e) override {
    Late();
    RecordingSink::OnRdcpReply(t, e);
  }
  void OnDvrInfoChanged() override { Late(); }
  void OnDvrStatus(int) override { Late(); }

 private:
  void Late() {
    if (closed.load()) ++late;
  }
};

// A peer thread that writes `message` over and over until stopped.
class Flooder {
 public:
  Flooder(int fd, std::vector<uint8_t> message) : fd_(fd), message_(std::move(message)) {
    thread_ = std::thread([this] {
      std::vector<uint8_t> block;
      while (block.size() < 4096) block.insert(block.end(), message_.begin(), message_.end());
      while (!stop_.load()) {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        if (::send(fd_, block.data(), block.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
            errno != EAGAIN)
          break;
      }
    });
  }
  ~Flooder() {
    stop_ = true;
    thread_.join();
  }

 private:
  int fd_;
  std::vector<uint8_t> message_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(SessionRobustness, StopReturnsWithinASecondWhateverThePeerDoes) {
  struct Case {
    const char* name;
    bool accept;                 // the peer accepts the connection
    std::vector<uint8_t> flood;  // what the peer floods the client with
  };
  const Case cases[] = {
      {"silent peer", true, {}},
      {"connection never taken by the peer program", false, {}},
      {"flood of status-changed notifications (the ring fills)", true, Msg(rdcp::kStatusChanged)},
      {"flood of keep-alive replies", true, Msg(rdcp::kKeepAliveReply, 0, {1})},
      {"flood of garbage", true, {0x00, 0x13, 0x37}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    GuardSink sink;
    auto session = std::make_unique<RdcpSession>();
    ASSERT_EQ(session->SetSink(&sink), engine::kOk);
    ASSERT_EQ(session->Start(), engine::kOk);
    ASSERT_EQ(session->SetRemote("127.0.0.1", peer.port()), engine::kOk);
    std::unique_ptr<Flooder> flooder;
    if (c.accept) {
      ASSERT_TRUE(peer.Accept());
      ASSERT_TRUE(WaitFor([&] { return sink.connects().size() == 1; }));
      const uint8_t pw[6] = {1, 2, 3, 4, 5, 6};
      ASSERT_EQ(session->OpenSession(pw), engine::kOk);  // never answered
      ASSERT_TRUE(peer.NextOfType(rdcp::kOpenSession));
      if (!c.flood.empty()) {
        flooder = std::make_unique<Flooder>(peer.client_fd(), c.flood);
        // Let the flood run until the client is busy with it.
        EXPECT_FALSE(WaitFor([&] { return !session->IsConnected(); }, 200ms));
      }
    }
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(session->Stop(), engine::kOk);
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    sink.closed = true;
    std::printf("%s: Stop returned after %lld ms\n", c.name, static_cast<long long>(ms));
    EXPECT_LT(ms, 1000);
    // No callback once Stop has returned, and none after the object is gone.
    EXPECT_FALSE(WaitFor([&] { return sink.late.load() > 0; }, 50ms));
    session.reset();
    EXPECT_EQ(sink.late.load(), 0);
    flooder.reset();
  }
}

// A DVR stand-in that accepts one control connection after another and
// answers the open and the settings request.
class CycleServer {
 public:
  CycleServer() {
    thread_ = std::thread([this] { Run(); });
  }
  ~CycleServer() {
    stop_ = true;
    thread_.join();
  }
  uint16_t port() const { return peer_.port(); }
  int sessions() const { return sessions_.load(); }

 private:
  void Run() {
    while (!stop_.load()) {
      if (!peer_.Accept(20ms)) continue;
      while (!stop_.load()) {
        auto m = peer_.Next(20ms);
        if (!m) {
          if (peer_.WaitClientClosed(1ms)) break;
          continue;
        }
        if (m->type == rdcp::kOpenSession) {
          peer_.Reply(rdcp::kSessionAccepted, 0, {static_cast<uint8_t>(sessions_.load())});
        } else if (m->type == rdcp::kGetSettings) {
          peer_.Reply(rdcp::kSettingsReply, 0, std::vector<uint8_t>(32, 1));
        } else if (m->type == rdcp::kCloseSession) {
          ++sessions_;
          break;
        }
      }
      peer_.CloseClient();
    }
  }

  ScriptedPeer peer_;
  std::atomic<bool> stop_{false};
  std::atomic<int> sessions_{0};
  std::thread thread_;
};

TEST(SessionRobustness, TwoHundredConnectOpenCloseCyclesLeakNothing) {
  CycleServer server;
  const uint8_t pw[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(
      rdtest::ConnectOpenCloseCycle(server.port(), pw));  // warm-up: lazily created runtime state
  const int fds = rdtest::CountOpenFds();
  const int threads = rdtest::CountThreads();
  std::string why;
  for (int i = 0; i < 200; ++i)
    ASSERT_TRUE(rdtest::ConnectOpenCloseCycle(server.port(), pw, &why))
        << "cycle " << i << ": " << why;
  ASSERT_TRUE(WaitFor([&] { return server.sessions() == 201; }));
  EXPECT_EQ(rdtest::CountOpenFds(), fds);
  EXPECT_TRUE(WaitFor([&] { return rdtest::CountThreads() == threads; }));
}

}  // namespace
}  // namespace rd
