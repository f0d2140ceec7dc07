// RcCtrlMain against the emulated DVR running in the same process: the
// conversation and window messages of a successful connect, each connection
// event provoked by its scenario with its teardown, live frames reaching the
// image handler, local recording of the live stream and its playback.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QGuiApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "client/engine/rcctrlmain.h"
#include "support/QtTestEnvironment.h"
#include "support/SessionSupport.h"
#include "support/TestSupport.h"
#include "tools/dvrsim/DvrSim.h"

namespace rd {
namespace {

[[maybe_unused]] auto* const kQtEnv =
    ::testing::AddGlobalTestEnvironment(new rdtest::QtTestEnvironment("engine_tests"));

struct Message {
  uint32_t msg;
  uintptr_t w;
  intptr_t l;
  bool sent;  // delivered as a direct call
};

// A window that records what reaches it and answers the mute question.
class TestWindow : public RcWindow {
 public:
  void Post(uint32_t m, uintptr_t w, intptr_t l) override {
    Add({m, w, l, false});
    std::function<void(uint32_t)> hook;
    {
      std::lock_guard lock(hook_mu_);
      hook = on_post_;
    }
    if (hook) hook(m);
  }
  // Called on the posting thread for each posted message.
  void OnPost(std::function<void(uint32_t)> hook) {
    std::lock_guard lock(hook_mu_);
    on_post_ = std::move(hook);
  }
  void Send(uint32_t m, uintptr_t w, intptr_t l) override {
    if (m == rcmsg::kAskMute && l != 0) *reinterpret_cast<uint8_t*>(l) = 16;
    Add({m, w, l, true});
  }
  std::vector<Message> Messages() {
    std::lock_guard lock(mu_);
    return messages_;
  }
  bool Has(uint32_t m, uintptr_t w) {
    for (const Message& x : Messages())
      if (x.msg == m && x.w == w) return true;
    return false;
  }
  bool HasMsg(uint32_t m) {
    for (const Message& x : Messages())
      if (x.msg == m) return true;
    return false;
  }
  int Count(uint32_t m) {
    int n = 0;
    for (const Message& x : Messages()) n += x.msg == m ? 1 : 0;
    return n;
  }
  // The first connection event (0x401), if any.
  const Message* FirstEvent(std::vector<Message>& store) {
    store = Messages();
    for (const Message& x : store)
      if (x.msg == rcmsg::kConnectionEvent) return &x;
    return nullptr;
  }
  void Clear() {
    std::lock_guard lock(mu_);
    messages_.clear();
  }

 private:
  void Add(Message m) {
    std::lock_guard lock(mu_);
    messages_.push_back(m);
  }
  std::mutex mu_;
  std::mutex hook_mu_;
  std::function<void(uint32_t)> on_post_;
  std::vector<Message> messages_;
};

class NullTarget : public DisplayTarget {
 public:
  void Present(const QImage& picture) override {
    std::lock_guard lock(mu);
    last = picture.copy();
    ++count;
  }
  std::mutex mu;
  QImage last;
  int count = 0;
};

const uint8_t kPassword[6] = {1, 2, 3, 4, 5, 6};

class CtrlMainTest : public ::testing::Test {
 protected:
  void StartSim(std::vector<sim::Scenario> scenarios = {}, bool quad = false) {
    sim::SimOptions o;
    o.listen = "127.0.0.1";
    o.control_port = 0;
    o.stream_port = 0;
    o.quiet = true;
    o.quad = quad;
    o.scenarios = std::move(scenarios);
    o.disk = (dir / "dvr.img").string();
    o.disk_size = 64ull << 20;
    o.log_file = (dir / "sim.log").string();
    dvr = std::make_unique<sim::DvrSim>(o);
    std::string error;
    ASSERT_TRUE(dvr->Start(&error)) << error;
  }
  std::string SimLog() { return rdtest::ReadText(dir / "sim.log"); }
  void Make() {
    main = std::make_unique<RcCtrlMain>();
    ASSERT_EQ(main->RegisterWindow(&window), 1);
    main->SetDisplayTarget(&target);
    main->SetPorts(static_cast<uint16_t>(dvr->control_port()),
                   static_cast<uint16_t>(dvr->stream_port()));
  }
  // The main window's answer to a connection event.
  void TearDownConnections() {
    main->DisconnectStream();
    main->DisconnectControl();
  }
  void TearDown() override {
    main.reset();
    if (dvr) dvr->Stop();
  }
  rdtest::TempDir dir;
  std::unique_ptr<sim::DvrSim> dvr;
  TestWindow window;
  NullTarget target;
  std::unique_ptr<RcCtrlMain> main;
};

TEST_F(CtrlMainTest, SuccessfulConnectConversationAndLiveFrames) {
  StartSim();
  Make();
  ASSERT_TRUE(rdtest::OpenSession(*main, kPassword));
  ASSERT_TRUE(rdtest::WaitFor([&] { return main->ImageHandler().FramesHandled() >= 3; },
                              std::chrono::seconds(10)));
  EXPECT_TRUE(main->IsStreamLive());

  std::vector<Message> m = window.Messages();
  auto index_of = [&](uint32_t msg) {
    for (std::size_t i = 0; i < m.size(); ++i)
      if (m[i].msg == msg) return static_cast<int>(i);
    return -1;
  };
  ASSERT_GE(index_of(rcmsg::kCtrlConnecting), 0);
  EXPECT_TRUE(m[index_of(rcmsg::kCtrlConnecting)].sent) << "sent on the user-interface thread";
  EXPECT_STREQ(reinterpret_cast<const char*>(m[index_of(rcmsg::kCtrlConnecting)].l), "127.0.0.1");
  EXPECT_TRUE(window.Has(rcmsg::kCtrlConnectResult, 0));
  EXPECT_TRUE(window.Has(rcmsg::kStreamConnectResult, 0));
  // The order of the conversation: connect, connect result, then two chains
  // that run side by side once the session is open (the stream connection
  // and the requests go out together, so either may answer first): the
  // stream (connecting, connected) and the settings (audio available,
  // refresh, info), then the status (audio state, status).
  const std::vector<uint32_t> stream_chain = {rcmsg::kCtrlConnecting, rcmsg::kCtrlConnectResult,
                                              rcmsg::kStreamConnecting,
                                              rcmsg::kStreamConnectResult};
  const std::vector<uint32_t> request_chain = {rcmsg::kCtrlConnecting, rcmsg::kCtrlConnectResult,
                                               rcmsg::kAudioAvailable, rcmsg::kDvrInfoChanged,
                                               rcmsg::kAudioState,     rcmsg::kDvrStatus};
  std::string seq;
  for (const Message& x : m) seq += std::to_string(x.msg) + "(" + std::to_string(x.w) + ") ";
  SCOPED_TRACE(seq);
  // The expected messages of each chain appear in its order (others may come between).
  for (const auto& order : {stream_chain, request_chain}) {
    std::size_t next = 0;
    for (const Message& x : m)
      if (next < order.size() && x.msg == order[next]) ++next;
    EXPECT_EQ(next, order.size()) << "stopped at " << std::hex
                                  << order[std::min(next, order.size() - 1)];
  }
  EXPECT_FALSE(window.HasMsg(rcmsg::kConnectionEvent));
  EXPECT_TRUE(window.Has(rcmsg::kAudioAvailable, 1));
  // Posted messages carry values: the stream address as a number, the
  // channels present as bits (not pointers the engine rewrites).
  for (const Message& x : m) {
    if (x.msg == rcmsg::kStreamConnecting) {
      EXPECT_EQ(rcmsg::AddressText(x.l), "127.0.0.1");
    }
  }
  ASSERT_TRUE(rdtest::WaitFor([&] { return window.HasMsg(rcmsg::kChannelsPresent); }));
  for (const Message& x : window.Messages()) {
    if (x.msg == rcmsg::kChannelsPresent) {
      EXPECT_EQ(rcmsg::UnpackChannels(x.l), (ChannelDisplayState{0, {1, 1, 1, 1}}));
    }
  }
  EXPECT_EQ(main->ChannelsPresent(), (ChannelDisplayState{0, {1, 1, 1, 1}}));
  EXPECT_EQ(main->StreamAddress(), "127.0.0.1");
  EXPECT_EQ(main->StreamPort(), dvr->stream_port());
  // Getters the windows read: the emulator's 64 MiB master disk (its packet
  // area a little less), no slave.
  EXPECT_EQ(main->DiskInstalled(0), 1);
  EXPECT_GT(main->DiskCapacityMb(0), 60u);
  EXPECT_LE(main->DiskCapacityMb(0), 64u);
  EXPECT_EQ(main->DiskInstalled(1), 0);
  EXPECT_EQ(main->DiskCapacityMb(1), 0u);
  EXPECT_EQ(main->DiskUsedMb(1), 0u);
  EXPECT_EQ(main->DvrMode(), dvr_mode::kView);
  EXPECT_EQ(main->AudioAvailable(), 1);
  EXPECT_EQ(main->StreamChannelsShown(), (ChannelDisplayState{0, {1, 1, 1, 1}}));
  EXPECT_TRUE(main->AutoAdjust());

  DvrStateBlock st;
  ASSERT_TRUE(main->DvrState(&st));
  EXPECT_TRUE(st.settings_valid);
  EXPECT_TRUE(st.status_valid);
  DvrTime t;
  EXPECT_TRUE(rdtest::WaitFor([&] { return main->Time(&t); }));

  // The one-second tick and the repaint.
  window.Clear();
  main->Tick(3);
  EXPECT_TRUE(window.HasMsg(rcmsg::kSecondTick));
  main->Tick(4);
  {
    std::lock_guard lock(target.mu);
    ASSERT_EQ(target.count, 1);
    EXPECT_EQ(target.last.size(), QSize(640, 436));
  }
  uint32_t frames = 0;
  main->Stats().GetFrames(&frames);
  EXPECT_GT(frames, 0u);

  TearDownConnections();
  EXPECT_TRUE(window.HasMsg(rcmsg::kStreamClosed));
  EXPECT_EQ(main->ConnectionState(), 0);
  EXPECT_FALSE(main->HasSession());
  EXPECT_FALSE(window.HasMsg(rcmsg::kConnectionEvent)) << "a disconnect by the client is no event";
}

struct EventCase {
  const char* name;
  std::vector<sim::Scenario> scenarios;
  int code;
  int param;  // -1: any
  bool needs_ticks;
};

class CtrlMainEvents : public CtrlMainTest, public ::testing::WithParamInterface<EventCase> {};

TEST_P(CtrlMainEvents, ScenarioGivesItsEventAndTearsDown) {
  const EventCase& c = GetParam();
  StartSim(c.scenarios);
  Make();
  main->Connect("127.0.0.1", kPassword);
  std::vector<Message> store;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  const Message* ev = nullptr;
  while (std::chrono::steady_clock::now() < deadline) {
    if ((ev = window.FirstEvent(store)) != nullptr) break;
    if (c.needs_ticks && main->ConnectionState() >= 3) main->Tick(3);
    std::this_thread::sleep_for(std::chrono::milliseconds(c.needs_ticks ? 200 : 5));
  }
  ASSERT_NE(ev, nullptr) << c.name;
  EXPECT_EQ(static_cast<int>(ev->w), c.code) << c.name;
  if (c.param >= 0) {
    EXPECT_EQ(static_cast<int>(ev->l), c.param) << c.name;
  }
  EXPECT_FALSE(ev->sent);
  EXPECT_TRUE(window.Has(rcmsg::kEventBroadcast, static_cast<uintptr_t>(c.code)));
  auto text = rcevent::Describe(c.code, ev->l);
  EXPECT_NE(text.caption, nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  TearDownConnections();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3))
      << "teardown never hangs";
  EXPECT_EQ(main->ConnectionState(), 0);
  EXPECT_FALSE(main->HasSession());
}

using sim::Scenario;
using sim::ScenarioKind;
INSTANTIATE_TEST_SUITE_P(
    Scenarios, CtrlMainEvents,
    ::testing::Values(
        EventCase{"WrongPassword", {Scenario{ScenarioKind::kWrongPassword, 0}}, 6, 1, false},
        EventCase{"NetworkOff", {Scenario{ScenarioKind::kNetworkOff, 0}}, 6, 10, false},
        EventCase{"CloseControl", {Scenario{ScenarioKind::kCloseControl, 1}}, 2, -1, false},
        EventCase{"KeypadClose", {Scenario{ScenarioKind::kKeypadClose, 1}}, 5, 0, false},
        EventCase{"SilentKeepAlive", {Scenario{ScenarioKind::kSilentKeepAlive, 0}}, 4, 0, true},
        EventCase{"CloseStream", {Scenario{ScenarioKind::kCloseStream, 1}}, 9, -1, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A session the client ends (disconnect, or shutdown without one) is closed
// with CloseSession before the control connection goes.
class CtrlMainEnds : public CtrlMainTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CtrlMainEnds, CloseSessionBeforeTheConnectionCloses) {
  const bool shutdown = GetParam();
  StartSim();
  Make();
  ASSERT_TRUE(rdtest::OpenSession(*main, kPassword));
  if (shutdown)
    main.reset();
  else
    TearDownConnections();
  std::string log;
  ASSERT_TRUE(rdtest::WaitFor([&] {
    log = SimLog();
    return log.find("NOTE control closed") != std::string::npos;
  })) << log;
  const std::size_t close = log.find(" RX 17 0 0 -");
  ASSERT_NE(close, std::string::npos) << log;
  EXPECT_LT(close, log.find("NOTE control closed"));
  EXPECT_EQ(log.find(" RX 17 ", close + 1), std::string::npos) << "sent once";
  EXPECT_NE(log.find("NOTE session ended: closed by the client"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Ends, CtrlMainEnds, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Shutdown" : "Disconnect"; });

TEST_F(CtrlMainTest, RefusedControlConnectIsEventOne) {
  StartSim();
  Make();
  const int port = dvr->control_port();
  dvr->Stop();
  main->SetPorts(static_cast<uint16_t>(port), 0);
  main->Connect("127.0.0.1", kPassword);
  std::vector<Message> store;
  ASSERT_TRUE(rdtest::WaitFor([&] { return window.FirstEvent(store) != nullptr; }));
  const Message* ev = window.FirstEvent(store);
  EXPECT_EQ(ev->w, 1u);
  EXPECT_NE(ev->l, 0) << "the platform error code";
  // The result is posted right after the event, from the control thread.
  EXPECT_TRUE(rdtest::WaitFor([&] { return window.HasMsg(rcmsg::kCtrlConnectResult); }));
  EXPECT_EQ(main->ConnectionState(), 1) << "a failed connect stays at 1 until the disconnect";
  TearDownConnections();
  EXPECT_EQ(main->ConnectionState(), 0);
}

TEST_F(CtrlMainTest, RefusedStreamConnectIsEventEight) {
  StartSim();
  Make();
  // A port nobody listens on: the stopped emulator's own ports are free now.
  sim::SimOptions o;
  o.listen = "127.0.0.1";
  o.control_port = 0;
  o.stream_port = 0;
  o.quiet = true;
  o.disk = (dir / "other.img").string();
  o.disk_size = 64ull << 20;
  auto other = std::make_unique<sim::DvrSim>(o);
  std::string error;
  ASSERT_TRUE(other->Start(&error)) << error;
  const int dead_port = other->stream_port();
  other->Stop();
  main->SetPorts(0, static_cast<uint16_t>(dead_port));
  main->Connect("127.0.0.1", kPassword);
  std::vector<Message> store;
  ASSERT_TRUE(rdtest::WaitFor([&] { return window.FirstEvent(store) != nullptr; },
                              std::chrono::seconds(10)));
  EXPECT_EQ(window.FirstEvent(store)->w, 8u);
  EXPECT_TRUE(window.HasMsg(rcmsg::kStreamConnectResult));
  // The failed result reaches the window before the event, so the teardown's
  // "Disconnected" is the status text that stays.
  int result_at = -1, event_at = -1;
  for (std::size_t i = 0; i < store.size(); ++i) {
    if (store[i].msg == rcmsg::kStreamConnectResult && store[i].w != 0 && result_at < 0)
      result_at = static_cast<int>(i);
    if (store[i].msg == rcmsg::kConnectionEvent && event_at < 0) event_at = static_cast<int>(i);
  }
  EXPECT_GE(result_at, 0);
  EXPECT_LT(result_at, event_at);
  TearDownConnections();
}

TEST_F(CtrlMainTest, ConnectTimerAndShutdownEvents) {
  StartSim();
  Make();
  main->Tick(0);
  std::vector<Message> store;
  ASSERT_NE(window.FirstEvent(store), nullptr);
  EXPECT_EQ(window.FirstEvent(store)->w, 0u);
  window.Clear();
  main.reset();  // shutdown posts event 7 to the windows
  EXPECT_TRUE(window.Has(rcmsg::kEventBroadcast, 7));
  EXPECT_TRUE(window.Has(rcmsg::kConnectionEvent, 7));
}

TEST_F(CtrlMainTest, RecordsTheLiveStreamAndPlaysItBack) {
  StartSim();
  Make();
  main->SetRecordingDirectory((dir / "stream_files").string());
  ASSERT_TRUE(rdtest::OpenSession(*main, kPassword));
  ASSERT_EQ(main->StartLocalRecording(), 0);
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        auto files = main->RecordingFiles();
        return !files.empty() && std::filesystem::file_size(files[0]) > 200000;
      },
      std::chrono::seconds(15)));
  ASSERT_EQ(main->StopLocalRecording(), 0);
  const std::string file = main->RecordingFiles().at(0);
  TearDownConnections();

  RcLocalPlayer check;
  ASSERT_EQ(check.Open(file), 0);
  EXPECT_FALSE(check.HeaderWasRepaired());
  EXPECT_GT(check.RecordCount(), 3u);
  check.Close();

  const uint64_t before = main->ImageHandler().FramesHandled();
  ASSERT_EQ(main->StartLocalPlayback(file), 0);
  EXPECT_TRUE(main->LocalPlaybackActive());
  ASSERT_TRUE(rdtest::WaitFor([&] { return main->ImageHandler().FramesHandled() > before + 2; },
                              std::chrono::seconds(10)));
  main->Tick(4);
  main->LocalFastForward();
  EXPECT_EQ(main->LocalPlayerState(), 18);
  main->StopLocalPlayback();
  EXPECT_TRUE(window.HasMsg(rcmsg::kLocalPlayStopped));
  EXPECT_FALSE(main->LocalPlaybackActive());
}

// Changes of the stream pair and of the audio flags queued one after the
// other, before the first is acknowledged: each builds on the one before, so
// the DVR ends with all of them (not only the last one on the old cache).
TEST_F(CtrlMainTest, ChangesQueuedBeforeTheirAcknowledgementBuildOnEachOther) {
  StartSim();
  Make();
  ASSERT_TRUE(rdtest::OpenSession(*main, kPassword));
  ASSERT_TRUE(rdtest::WaitFor([&] { return window.HasMsg(rcmsg::kChannelsPresent); }));
  ASSERT_TRUE(rdtest::WaitFor([&] {
    return main->StreamFilter() == stream_filter::kPerChannel &&
           dvr->status().stream_filter == stream_filter::kPerChannel;
  }));
  ASSERT_EQ(main->AudioRecordingEnabled(), 1);

  const ChannelDisplayState no_ch2{0, {1, 0, 1, 1}};
  main->SetChannelFilter(&no_ch2, nullptr);
  main->SetAudioEnabled(false);
  main->SetFrameInterval(2);
  main->SetAudioRecording(false);
  main->SetSpeakerMute(true);
  const uint8_t filter = stream_filter::kPerChannel | stream_filter::kAudioExcluded | 0x02;
  EXPECT_TRUE(rdtest::WaitFor([&] {
    const DvrStatus st = dvr->status();
    return st.stream_filter == filter && st.frame_interval == 2 &&
           dvr->settings().audio_flags == 0x02;
  })) << "filter "
      << int(dvr->status().stream_filter) << " interval " << int(dvr->status().frame_interval)
      << " audio flags " << int(dvr->settings().audio_flags);
  // The cache follows the acknowledgements; the next change starts from it.
  ASSERT_TRUE(rdtest::WaitFor([&] { return main->StreamFilter() == filter; }));
  EXPECT_EQ(main->StreamFrameInterval(), 2);
  // (The DVR's flags change before its reply reaches the cache.)
  EXPECT_TRUE(rdtest::WaitFor(
      [&] { return main->SpeakerMuted() == 1 && main->AudioRecordingEnabled() == 0; }));
  main->SetAudioEnabled(true);
  EXPECT_TRUE(rdtest::WaitFor(
      [&] { return dvr->status().stream_filter == (filter & ~stream_filter::kAudioExcluded); }));
  EXPECT_EQ(dvr->status().frame_interval, 2);

  // Two channel changes in a row: each acknowledgement refreshes the display,
  // so the last refresh shows the last change.
  ASSERT_TRUE(rdtest::WaitFor([&] { return main->StreamFilter() == dvr->status().stream_filter; }));
  window.Clear();
  const ChannelDisplayState ch1{0, {1, 0, 0, 0}};
  const ChannelDisplayState ch14{0, {1, 0, 0, 1}};
  main->SetChannelFilter(&ch1, nullptr);
  main->SetChannelFilter(&ch14, nullptr);
  EXPECT_TRUE(rdtest::WaitFor([&] { return window.Count(rcmsg::kRefreshDisplay) == 2; }));
  EXPECT_EQ(main->StreamChannelsShown(), ch14);
}

// The audio state reported at session open (0x414) is the one the stream
// will have: a mute queued after the status request was sent, but before its
// reply, counts.
TEST_F(CtrlMainTest, AudioStateAtSessionOpenCountsAQueuedMute) {
  StartSim();
  Make();
  // At the settings reply (0x415) the status request is already out.
  window.OnPost([this](uint32_t m) {
    if (m == rcmsg::kAudioAvailable) main->SetAudioEnabled(false);
  });
  main->Connect("127.0.0.1", kPassword);
  ASSERT_TRUE(
      rdtest::WaitFor([&] { return window.HasMsg(rcmsg::kAudioState); }, std::chrono::seconds(10)));
  EXPECT_TRUE(window.Has(rcmsg::kAudioState, 0)) << "muted, as queued";
  EXPECT_FALSE(window.Has(rcmsg::kAudioState, 1));
  window.OnPost(nullptr);
}

// A mute asked for before the DVR's first status (the window mutes every new
// stream when it starts connecting) cannot build on a filter nobody knows:
// it is sent once the status is in, on the DVR's per-channel filter, and the
// DVR never gets a filter that switches it to its quad picture.
TEST_F(CtrlMainTest, MuteBeforeTheFirstStatusKeepsTheDvrsFilter) {
  StartSim();
  Make();
  window.OnPost([this](uint32_t m) {
    if (m == rcmsg::kCtrlConnectResult) main->SetAudioEnabled(false);
  });
  main->Connect("127.0.0.1", kPassword);
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        return dvr->status().stream_filter ==
               (stream_filter::kPerChannel | stream_filter::kAudioExcluded);
      },
      std::chrono::seconds(10)))
      << "filter " << int(dvr->status().stream_filter);
  window.OnPost(nullptr);
  std::ifstream log(dir / "sim.log");
  for (std::string line; std::getline(log, line);)
    if (line.find(" RX 41 ") != std::string::npos) {
      const uint8_t filter =
          static_cast<uint8_t>(std::stoi(line.substr(line.size() - 2), nullptr, 16));
      EXPECT_NE(filter & stream_filter::kPerChannel, 0) << line;
    }
  EXPECT_TRUE(rdtest::WaitFor([&] { return window.HasMsg(rcmsg::kAudioState); }));
  EXPECT_TRUE(window.Has(rcmsg::kAudioState, 0)) << "muted, as asked";
  TearDownConnections();
}

// A server on a free loopback port that accepts one connection and resets it
// (SO_LINGER 0), so the client's next read fails with ECONNRESET.
class ResetServer {
 public:
  ResetServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 1);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      // Wait (bounded) for what the client sends first, if anything.
      pollfd p{c, POLLIN, 0};
      ::poll(&p, 1, 200);
      linger l{1, 0};
      ::setsockopt(c, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      ::close(c);
    });
  }
  ~ResetServer() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

TEST_F(CtrlMainTest, ResetConnectionsAreReadErrors) {
  StartSim();
  {
    // Control connection reset by the peer: event 3.
    ResetServer server;
    Make();
    main->SetPorts(server.port(), 0);
    main->Connect("127.0.0.1", kPassword);
    std::vector<Message> store;
    ASSERT_TRUE(rdtest::WaitFor([&] { return window.FirstEvent(store) != nullptr; }));
    EXPECT_EQ(window.FirstEvent(store)->w, 3u);
    EXPECT_EQ(window.FirstEvent(store)->l, ECONNRESET);
    TearDownConnections();
    main.reset();
  }
  window.Clear();
  {
    // Stream connection reset by the peer: event 10.
    ResetServer server;
    Make();
    main->SetPorts(0, server.port());
    main->Connect("127.0.0.1", kPassword);
    std::vector<Message> store;
    ASSERT_TRUE(rdtest::WaitFor([&] { return window.FirstEvent(store) != nullptr; },
                                std::chrono::seconds(10)));
    EXPECT_EQ(window.FirstEvent(store)->w, 10u);
    EXPECT_EQ(window.FirstEvent(store)->l, ECONNRESET);
    TearDownConnections();
  }
}

TEST_F(CtrlMainTest, SessionEndMessageIsBroadcastWithoutEvent) {
  StartSim({sim::Scenario{sim::ScenarioKind::kSessionEnd, 1}});
  Make();
  main->Connect("127.0.0.1", kPassword);
  ASSERT_TRUE(rdtest::WaitFor([&] { return window.Has(rcmsg::kEventBroadcast, 255); },
                              std::chrono::seconds(10)));
  for (const Message& m : window.Messages()) {
    if (m.msg == rcmsg::kEventBroadcast && m.w == 255) {
      EXPECT_EQ(m.l, 255);
    }
    // The session end raises no connection event of its own; the recorder
    // ends the stream with the session, so a stream close may follow.
    if (m.msg == rcmsg::kConnectionEvent) {
      EXPECT_EQ(m.w, uintptr_t{rcevent::kStreamClosed});
    }
  }
  TearDownConnections();
}

// The management dialog's Update changing audio recording and the speaker:
// two requests queued before the first is acknowledged. The second carries
// both changes, so the DVR ends with both.
TEST_F(CtrlMainTest, AudioFlagChangesInARowBuildOnEachOther) {
  StartSim();
  Make();
  ASSERT_TRUE(rdtest::OpenSession(*main, kPassword));
  ASSERT_EQ(dvr->settings().audio_flags, 1) << "recording on, speaker on";
  main->SetAudioRecording(false);
  main->SetSpeakerMute(true);
  ASSERT_TRUE(
      rdtest::WaitFor([&] { return dvr->settings().audio_flags == 2; }, std::chrono::seconds(10)))
      << "flags " << int(dvr->settings().audio_flags);
  std::vector<std::string> payloads;
  std::ifstream log(dir / "sim.log");
  for (std::string line; std::getline(log, line);)
    if (line.find(" RX 45 ") != std::string::npos)
      payloads.push_back(line.substr(line.rfind(' ') + 1));
  EXPECT_EQ(payloads, (std::vector<std::string>{"00", "02"}));
  ASSERT_TRUE(rdtest::WaitFor([&] { return main->SpeakerMuted() == 1; }));
  EXPECT_EQ(main->AudioRecordingEnabled(), 0);

  // Fresh settings from the DVR are the base again.
  main->RefreshSettings();
  ASSERT_TRUE(rdtest::WaitFor([&] { return window.HasMsg(rcmsg::kSettingsRefreshed); }));
  main->SetAudioRecording(true);
  ASSERT_TRUE(rdtest::WaitFor([&] { return dvr->settings().audio_flags == 3; }));
  TearDownConnections();
}

TEST(WindowRegistry, RegistersSixteenAndClosesGaps) {
  WindowRegistry reg;
  std::vector<TestWindow> w(17);
  EXPECT_EQ(reg.Register(nullptr), 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(reg.Register(&w[i]), i + 1);
  EXPECT_EQ(reg.Register(&w[16]), 0) << "a seventeenth window is refused";
  reg.Unregister(1);
  EXPECT_EQ(reg.Count(), 15);
  EXPECT_EQ(reg.Main(), &w[1]);
  EXPECT_EQ(reg.Register(&w[16]), 16);
  EXPECT_EQ(reg.All().back(), &w[16]);
}

TEST(WindowRegistry, UnregistersByIdentity) {
  WindowRegistry reg;
  TestWindow a, b, c;
  reg.Register(&a);
  reg.Register(&b);
  reg.Register(&c);
  reg.Unregister(&b);  // by number, a later entry would now be the wrong one
  reg.Unregister(&c);
  EXPECT_EQ(reg.Count(), 1);
  EXPECT_TRUE(reg.Contains(&a));
  EXPECT_FALSE(reg.Contains(&c));
  reg.Unregister(&c);  // not registered: nothing happens
  EXPECT_EQ(reg.Main(), &a);
}

// A modeless window that unregisters and deletes itself while a worker
// posts to every window: once Unregister returned, no post reaches it (the
// address sanitizer sees a use after free otherwise).
TEST(WindowRegistry, WindowDeletedWhileAWorkerPosts) {
  WindowRegistry reg;
  TestWindow main_window;
  reg.Register(&main_window);
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop.load()) reg.PostAll(rcmsg::kSecondTick, 0, 0);
  });
  EXPECT_TRUE(rdtest::WaitFor([&] { return main_window.Count(rcmsg::kSecondTick) > 0; }));
  for (int i = 0; i < 2000; ++i) {
    auto* dialog = new TestWindow;
    ASSERT_EQ(reg.Register(dialog), 2);
    reg.Unregister(dialog);
    delete dialog;
  }
  stop.store(true);
  worker.join();
}

TEST(WindowMessages, PackedValuesRoundTrip) {
  EXPECT_EQ(rcmsg::AddressText(rcmsg::PackAddress("192.168.1.20")), "192.168.1.20");
  EXPECT_EQ(rcmsg::PackAddress("192.168.1.20"), 0xC0A80114);
  EXPECT_EQ(rcmsg::PackAddress("not an address"), 0);
  const ChannelDisplayState flags{1, {0, 1, 0, 1}};
  EXPECT_EQ(rcmsg::PackChannels(flags), 0b10101);
  EXPECT_EQ(rcmsg::UnpackChannels(rcmsg::PackChannels(flags)), flags);
}

TEST_F(CtrlMainTest, NullDisplayTargetIsRefused) {
  StartSim();
  Make();
  EXPECT_FALSE(main->SetDisplayTarget(nullptr));
  EXPECT_TRUE(main->SetDisplayTarget(&target));
}

}  // namespace
}  // namespace rd
