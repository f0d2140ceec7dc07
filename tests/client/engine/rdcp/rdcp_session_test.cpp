// RdcpSession against a scripted DVR peer on loopback: framing and dispatch,
// the send ring and retransmission, keep-alive, negative acknowledgements, the
// request catalogue and the cached records.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "client/engine/rdcp/RdcpSession.h"
#include "support/RdcpPeer.h"
#include "support/TestSupport.h"

namespace rd {
namespace {

using namespace std::chrono_literals;
using rdtest::Concat;
using rdtest::Msg;
using rdtest::PeerMsg;
using rdtest::RecordingSink;
using rdtest::ScriptedPeer;
using rdtest::WaitFor;

long long Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

std::vector<uint8_t> StatusBytes(uint8_t mode, uint8_t interval = 0, uint8_t filter = 0,
                                 uint8_t speed = 0) {
  return {mode, interval, filter, 0, 0, 0, speed, 0};
}

std::vector<uint8_t> EventBytes(uint32_t id, uint8_t year, uint8_t month, uint8_t day,
                                uint8_t hour = 0, uint8_t minute = 0, uint8_t second = 0) {
  EventRecord e;
  e.id = id;
  e.kind = 1;
  e.start = UnpackTime(std::array<uint8_t, 6>{second, minute, hour, day, month, year}.data(), 6);
  e.end = e.start;
  std::vector<uint8_t> out(kEventRecordSize);
  PackEvent(e, out.data());
  return out;
}

class SessionTest : public ::testing::Test {
 protected:
  void Connect() {
    ASSERT_EQ(session->SetSink(&sink), engine::kOk);
    ASSERT_EQ(session->Start(), engine::kOk);
    ASSERT_EQ(session->SetRemote("127.0.0.1", peer.port()), engine::kOk);
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(WaitFor([&] { return sink.connects().size() == 1; }));
    ASSERT_EQ(sink.connects()[0], 0);
  }

  // Connects and opens the session (16 -> 64 with a challenge -> 18).
  void Open() {
    ASSERT_NO_FATAL_FAILURE(Connect());
    const uint8_t pw[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(session->OpenSession(pw), engine::kOk);
    Expect(rdcp::kOpenSession);
    ASSERT_TRUE(peer.Reply(rdcp::kSessionAccepted, 0, {0x5A}));
    PeerMsg answer = Expect(rdcp::kChallengeAnswer);
    EXPECT_EQ(answer.param, 0x5A ^ 0x6E);
    ASSERT_TRUE(WaitFor([&] { return sink.CountReply(64) == 1; }));
  }

  // The next message must be of `type`.
  PeerMsg Expect(uint8_t type, std::chrono::milliseconds timeout = 5s) {
    auto m = peer.Next(timeout);
    EXPECT_TRUE(m.has_value()) << "no message, wanted type " << int(type);
    if (!m) return PeerMsg{};
    EXPECT_EQ(m->type, type);
    return *m;
  }

  // Sends a request, answers it, and waits for the session to report the reply.
  void RoundTrip(EngineResult (RdcpSession::*request)(), uint8_t req, uint8_t reply,
                 std::vector<uint8_t> payload) {
    int before = sink.CountReply(reply);
    ASSERT_EQ((session.get()->*request)(), engine::kOk);
    Expect(req);
    ASSERT_TRUE(peer.Reply(reply, 0, std::move(payload)));
    ASSERT_TRUE(WaitFor([&] { return sink.CountReply(reply) > before; }));
  }

  // Members are destroyed in reverse order: the session stops first.
  ScriptedPeer peer;
  RecordingSink sink;
  std::unique_ptr<RdcpSession> session = std::make_unique<RdcpSession>();
};

// ------------------------------------------------------------- dispatch

TEST_F(SessionTest, TwoMessagesInOneReadAreBothHandledInOrder) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_EQ(session->RequestTime(), engine::kOk);
  Expect(rdcp::kGetTime);
  ASSERT_TRUE(peer.Write(Concat(
      {Msg(rdcp::kTimeReply, 0, {1, 2, 3, 4, 5, 6}), Msg(rdcp::kStatusPush, 0, StatusBytes(4))})));
  ASSERT_TRUE(WaitFor([&] { return sink.statuses() == 1; }));
  DvrTime t;
  ASSERT_TRUE(session->Time(&t));
  EXPECT_EQ(t.year, 6);
  EXPECT_EQ(session->DvrMode(), 4);
  EXPECT_EQ(sink.CountReply(rdcp::kTimeReply), 1);
}

TEST_F(SessionTest, SessionEndedDropsTheRestOfTheRead) {
  for (uint8_t ended : {rdcp::kSessionEndedReply, rdcp::kClosedByKeypad}) {
    SCOPED_TRACE(int(ended));
    ScriptedPeer p;
    RecordingSink k;
    RdcpSession s;
    ASSERT_EQ(s.SetSink(&k), engine::kOk);
    ASSERT_EQ(s.Start(), engine::kOk);
    ASSERT_EQ(s.SetRemote("127.0.0.1", p.port()), engine::kOk);
    ASSERT_TRUE(p.Accept());
    ASSERT_TRUE(WaitFor([&] { return k.connects().size() == 1; }));
    // The status push after the session-ended message is not handled; the
    // time reply in the next read is.
    ASSERT_TRUE(p.Write(Concat({Msg(ended), Msg(rdcp::kStatusPush, 0, StatusBytes(4))})));
    ASSERT_TRUE(WaitFor([&] { return k.CountReply(ended) == 1; }));
    ASSERT_TRUE(p.Write(Msg(rdcp::kTimeReply, 0, {1, 2, 3, 4, 5, 6})));
    ASSERT_TRUE(WaitFor([&] { return k.CountReply(rdcp::kTimeReply) == 1; }));
    EXPECT_EQ(k.statuses(), 0);
    EXPECT_FALSE(s.StatusValid());
  }
}

// Each ProcessRead call is one read of the socket, exactly as the socket
// thread hands it over.
TEST(SessionDispatch, GarbageDropsTheRestOfTheReadAndUnknownTypesAreSkipped) {
  const auto time = Msg(rdcp::kTimeReply, 0, {1, 2, 3, 4, 5, 6});
  const auto push = Msg(rdcp::kStatusPush, 0, StatusBytes(5));
  struct Case {
    const char* name;
    std::vector<uint8_t> read;
    bool time_handled, status_handled;
  };
  const Case cases[] = {
      {"non-0xF5 first byte drops the read", Concat({{0x13}, time, push}), false, false},
      {"garbage after a message drops the rest", Concat({time, {0x00}, push}), true, false},
      {"unknown types are skipped by their length",
       Concat({Msg(99, 0, {1, 2, 3}), Msg(24), Msg(0, 0, std::vector<uint8_t>(255, 0xF5)), time,
               push}),
       true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    RdcpSession s;
    ASSERT_EQ(s.SetSink(&sink), engine::kOk);
    s.ProcessRead(c.read.data(), c.read.size());
    EXPECT_EQ(sink.CountReply(rdcp::kTimeReply), c.time_handled ? 1 : 0);
    EXPECT_EQ(sink.statuses(), c.status_handled ? 1 : 0);
    // The next read is handled normally.
    const auto next = Msg(rdcp::kStatusPush, 0, StatusBytes(7));
    s.ProcessRead(next.data(), next.size());
    EXPECT_EQ(s.DvrMode(), 7);
  }
}

// A message split across reads is completed by the next read, wherever the
// split falls (in the header or in the payload).
TEST(SessionDispatch, SplitMessagesAreCompletedByTheNextRead) {
  std::vector<uint8_t> settings(32, 0);
  settings[0] = 1;
  settings[29] = 2;
  const std::vector<uint8_t> bytes = Concat(
      {Msg(rdcp::kSettingsReply, 0, settings), Msg(rdcp::kStatusPush, 0, StatusBytes(6, 3, 0x80))});
  for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
    SCOPED_TRACE(cut);
    RecordingSink sink;
    RdcpSession s;
    ASSERT_EQ(s.SetSink(&sink), engine::kOk);
    s.ProcessRead(bytes.data(), cut);
    s.ProcessRead(bytes.data() + cut, bytes.size() - cut);
    EXPECT_TRUE(s.SettingsValid());
    EXPECT_EQ(s.RecordMode(), 1);
    EXPECT_EQ(s.AudioAvailable(), 2);
    EXPECT_EQ(sink.CountReply(rdcp::kSettingsReply), 1);
    EXPECT_EQ(sink.statuses(), 1);
    EXPECT_EQ(s.StreamFrameInterval(), 3);
  }
}

TEST(SessionDispatch, LongestMessageSplitAtTheEndOfAFullRead) {
  // A full 2048-byte read ending with the first 100 bytes of a 259-byte
  // message, then another full read: the kept tail and the new read fit.
  RecordingSink sink;
  RdcpSession s;
  ASSERT_EQ(s.SetSink(&sink), engine::kOk);
  const auto big = Msg(99, 0, std::vector<uint8_t>(255, 0xEE));
  const auto time = Msg(rdcp::kTimeReply, 0, {9, 9, 9, 9, 9, 9});
  std::vector<uint8_t> full;
  for (int i = 0; i < 194; ++i) full.insert(full.end(), time.begin(), time.end());  // 1940
  const auto filler = Msg(98, 0, {0, 0, 0, 0});                                     // 8
  full.insert(full.end(), filler.begin(), filler.end());
  full.insert(full.end(), big.begin(), big.begin() + 100);
  ASSERT_EQ(full.size(), 2048u);
  std::vector<uint8_t> read2(big.begin() + 100, big.end());
  while (read2.size() + time.size() <= 2048) read2.insert(read2.end(), time.begin(), time.end());
  s.ProcessRead(full.data(), full.size());
  const int first = sink.CountReply(rdcp::kTimeReply);
  EXPECT_EQ(first, 194);
  s.ProcessRead(read2.data(), read2.size());
  EXPECT_EQ(sink.CountReply(rdcp::kTimeReply), first + static_cast<int>((read2.size() - 159) / 10));
  // More than 2048 bytes in one call: only the first 2048 are one read.
  std::vector<uint8_t> huge(5000, 0xF5);
  s.ProcessRead(huge.data(), huge.size());
}

// ------------------------------------------------ ring and retransmission

TEST_F(SessionTest, UnansweredRequestsAreSentAgainAfterOneOrTwoSeconds) {
  ASSERT_NO_FATAL_FAILURE(Open());
  struct Case {
    EngineResult (RdcpSession::*request)();
    uint8_t type;
    uint8_t reply;
    long long want_ms;
  };
  for (Case c :
       {Case{&RdcpSession::StopRecording, rdcp::kStopRecording, rdcp::kRecordingStopped, 1000},
        Case{&RdcpSession::RequestSettings, rdcp::kGetSettings, rdcp::kSettingsReply, 2000}}) {
    SCOPED_TRACE(int(c.type));
    ASSERT_EQ((session.get()->*c.request)(), engine::kOk);
    PeerMsg first = Expect(c.type);
    PeerMsg second = Expect(c.type, 4s);
    PeerMsg third = Expect(c.type, 4s);
    long long d1 = Ms(second.at - first.at), d2 = Ms(third.at - second.at);
    std::printf("type %d sent again after %lld ms and %lld ms\n", c.type, d1, d2);
    EXPECT_GE(d1, c.want_ms - 20);
    EXPECT_LE(d1, c.want_ms + 400);
    EXPECT_GE(d2, c.want_ms - 20);
    EXPECT_LE(d2, c.want_ms + 400);
    ASSERT_TRUE(peer.Reply(c.reply, 0, std::vector<uint8_t>(c.reply == 67 ? 32 : 0, 0)));
    ASSERT_TRUE(WaitFor([&] { return sink.CountReply(c.reply) == 1; }));
  }
  EXPECT_GE(session->Retransmissions(), 4u);
}

TEST_F(SessionTest, TheThirtySecondEnqueueWaitsWhileTheSenderIsStalled) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_EQ(session->RequestStatus(), engine::kOk);
  Expect(rdcp::kGetStatus);  // sent, awaiting its reply: the ring is stalled
  for (int i = 0; i < 30; ++i) ASSERT_EQ(session->StopPlay(), engine::kOk);
  std::atomic<bool> done{false};
  std::thread producer([&] {
    session->Pause();
    done = true;
  });
  EXPECT_FALSE(WaitFor([&] { return done.load(); }, 300ms));
  ASSERT_TRUE(peer.Reply(rdcp::kStatusReply, 0, StatusBytes(0)));
  EXPECT_TRUE(WaitFor([&] { return done.load(); }, 2s));
  producer.join();
  // The queued requests follow one by one as they are answered.
  Expect(rdcp::kStopPlay);
  ASSERT_TRUE(peer.Reply(rdcp::kPlayStopped));
  Expect(rdcp::kStopPlay);
}

TEST_F(SessionTest, EnqueueFailsWithoutASenderAndStopReleasesAWaitingProducer) {
  RdcpSession idle;
  EXPECT_EQ(idle.RequestStatus(), engine::kSenderNotRunning);
  EXPECT_EQ(idle.Stop(), engine::kSessionNotStarted);

  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_EQ(session->RequestStatus(), engine::kOk);
  Expect(rdcp::kGetStatus);
  for (int i = 0; i < 30; ++i) ASSERT_EQ(session->StopPlay(), engine::kOk);
  std::atomic<int> result{-1};
  std::thread producer([&] { result = session->Pause(); });
  EXPECT_FALSE(WaitFor([&] { return result.load() != -1; }, 100ms));
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(session->Stop(), engine::kOk);
  EXPECT_LT(Ms(std::chrono::steady_clock::now() - t0), 1000);
  producer.join();
  EXPECT_EQ(result.load(), engine::kSenderNotRunning);
  EXPECT_EQ(session->Start(), engine::kOk);  // a stopped session can be started again
  EXPECT_EQ(session->Start(), engine::kSessionAlreadyStarted);
}

// ------------------------------------------------------------ keep-alive

TEST_F(SessionTest, KeepAliveEveryOtherTickAndPollTimeoutAtTheSixthMissedPeriod) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  for (int tick = 1; tick <= 11; ++tick) {
    session->PollTick();
    if (tick % 2 == 1) continue;
    PeerMsg k = Expect(rdcp::kKeepAlive);
    ASSERT_EQ(k.payload.size(), 1u);
    EXPECT_EQ(k.payload[0], tick / 2 - 1);  // sequence 0, 1, 2, ...
  }
  EXPECT_EQ(sink.poll_timeouts(), 0);
  session->PollTick();  // 12th second: the sixth period without an answer
  EXPECT_EQ(sink.poll_timeouts(), 1);
  EXPECT_TRUE(peer.Quiet(100ms));  // no keep-alive with the timeout

  // A reply with an unexpected sequence byte still counts. (The time reply
  // behind it shows that the keep-alive reply has been handled.)
  for (int tick = 0; tick < 8; ++tick) session->PollTick();
  ASSERT_TRUE(peer.Write(Concat(
      {Msg(rdcp::kKeepAliveReply, 0, {0x77}), Msg(rdcp::kTimeReply, 0, {1, 1, 1, 1, 1, 1})})));
  ASSERT_TRUE(WaitFor([&] { return sink.CountReply(rdcp::kTimeReply) == 1; }));
  for (int tick = 0; tick < 11; ++tick) session->PollTick();
  EXPECT_EQ(sink.poll_timeouts(), 1);
  session->PollTick();
  EXPECT_EQ(sink.poll_timeouts(), 2);
}

// ---------------------------------------------- negative acknowledgement

TEST_F(SessionTest, RejectedOpenIsReportedWithItsCode) {
  for (uint8_t code : {rdcp::kNakInvalidPassword, rdcp::kNakNetworkDisabled}) {
    SCOPED_TRACE(int(code));
    ScriptedPeer p;
    RecordingSink k;
    RdcpSession s;
    ASSERT_EQ(s.SetSink(&k), engine::kOk);
    ASSERT_EQ(s.Start(), engine::kOk);
    ASSERT_EQ(s.SetRemote("127.0.0.1", p.port()), engine::kOk);
    ASSERT_TRUE(p.Accept());
    ASSERT_TRUE(WaitFor([&] { return k.connects().size() == 1; }));
    const uint8_t pw[6] = {0, 0, 0, 0, 0, 0};
    ASSERT_EQ(s.OpenSession(pw), engine::kOk);
    ASSERT_TRUE(p.NextOfType(rdcp::kOpenSession));
    ASSERT_TRUE(p.Reply(rdcp::kNak, code));
    ASSERT_TRUE(WaitFor([&] { return k.CountReply(rdcp::kNak) == 1; }));
    EXPECT_EQ(k.replies().back().error, code);
    // The request is over: no retransmission.
    EXPECT_FALSE(p.NextOfType(rdcp::kOpenSession, 1500ms));
  }
}

TEST_F(SessionTest, OtherRejectionsEndTheRequestSilently) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const auto replies_before = sink.replies().size();
  // A rejected change leaves the cache unchanged; the next request goes out
  // at once, not after a retransmission delay.
  ASSERT_EQ(session->SetRecordMode(1), engine::kOk);
  ASSERT_EQ(session->RequestTime(), engine::kOk);
  Expect(rdcp::kSetRecordMode);
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(peer.Reply(rdcp::kNak, 3));
  Expect(rdcp::kGetTime);
  EXPECT_LT(Ms(std::chrono::steady_clock::now() - t0), 500);
  EXPECT_EQ(session->RecordMode(), 0);

  // A rejected fast forward still asks for the status.
  ASSERT_EQ(session->FastForward(), engine::kOk);
  ASSERT_TRUE(peer.Reply(rdcp::kTimeReply, 0, {0, 0, 0, 1, 1, 9}));
  Expect(rdcp::kFastForward);
  ASSERT_TRUE(peer.Reply(rdcp::kNak, 5));
  Expect(rdcp::kGetStatus);
  ASSERT_TRUE(peer.Reply(rdcp::kStatusReply, 0, StatusBytes(0)));
  ASSERT_TRUE(WaitFor([&] { return sink.CountReply(rdcp::kStatusReply) == 1; }));

  // With nothing outstanding a rejection completes nothing and reports
  // nothing, even though the slot at the read position once held the open.
  ASSERT_TRUE(peer.Reply(rdcp::kNak, 1));
  ASSERT_TRUE(peer.Reply(rdcp::kTimeReply, 0, {0, 0, 0, 1, 1, 9}));
  ASSERT_TRUE(WaitFor([&] { return sink.CountReply(rdcp::kTimeReply) == 2; }));
  EXPECT_EQ(sink.CountReply(rdcp::kNak), 0);
  EXPECT_EQ(sink.replies().size(), replies_before + 3);  // 70, 90, 70

  // A request sent without reply tracking can be refused too.
  ASSERT_EQ(session->StartRecording(), engine::kOk);
  Expect(rdcp::kStartRecording);
  ASSERT_TRUE(peer.Reply(rdcp::kNak, 6));
  ASSERT_TRUE(WaitFor([&] { return session->RefusalOf(rdcp::kStartRecording).count == 1; }));

  // Each refusal is kept with the request it refused and the DVR's code.
  struct Refused {
    uint8_t request;
    uint32_t count;
    uint8_t code;
  };
  for (const Refused& r : {Refused{rdcp::kSetRecordMode, 1, 3}, Refused{rdcp::kFastForward, 1, 5},
                           Refused{rdcp::kStartRecording, 1, 6}, Refused{rdcp::kGetTime, 0, 0},
                           Refused{rdcp::kOpenSession, 0, 0}}) {
    EXPECT_EQ(session->RefusalOf(r.request).count, r.count) << int(r.request);
    EXPECT_EQ(session->RefusalOf(r.request).code, r.code) << int(r.request);
  }
}

TEST_F(SessionTest, StatusTellsWhichRequestsItFollows) {
  ASSERT_NO_FATAL_FAILURE(Open());
  // A first status, then a fast forward and a status request behind it: the
  // first status does not show the fast forward, only the second one does.
  ASSERT_EQ(session->RequestStatus(), engine::kOk);
  const uint64_t first = session->LastStatusRequest();
  Expect(rdcp::kGetStatus);
  ASSERT_EQ(session->FastForward(), engine::kOk);
  ASSERT_EQ(session->RequestStatus(), engine::kOk);
  const uint64_t second = session->LastStatusRequest();
  EXPECT_GT(second, first + 1);  // the fast forward comes between them
  ASSERT_TRUE(peer.Reply(rdcp::kStatusReply, 0, StatusBytes(0)));
  ASSERT_TRUE(WaitFor([&] { return session->StatusAnsweredThrough() == first; }));
  Expect(rdcp::kFastForward);
  ASSERT_TRUE(peer.Reply(rdcp::kFastForwardAccepted));
  Expect(rdcp::kGetStatus);
  EXPECT_LT(session->StatusAnsweredThrough(), second);
  ASSERT_TRUE(peer.Reply(rdcp::kStatusReply, 0, StatusBytes(3)));
  ASSERT_TRUE(WaitFor([&] { return session->StatusAnsweredThrough() >= second; }));

  // A pushed status answers nothing.
  const uint64_t before_push = session->StatusAnsweredThrough();
  ASSERT_TRUE(peer.Reply(rdcp::kStatusPush, 0, StatusBytes(4)));
  ASSERT_TRUE(WaitFor([&] { return session->DvrMode() == 4; }));
  EXPECT_EQ(session->StatusAnsweredThrough(), before_push);

  // A recording start has no reply tracking: its answer completes the status
  // request behind it, and the status that follows still counts for it.
  ASSERT_EQ(session->StartRecording(), engine::kOk);
  ASSERT_EQ(session->RequestStatus(), engine::kOk);
  const uint64_t third = session->LastStatusRequest();
  Expect(rdcp::kGetStatus);  // the status the fast forward's answer queued
  ASSERT_TRUE(peer.Reply(rdcp::kStatusReply, 0, StatusBytes(3)));
  Expect(rdcp::kStartRecording);
  Expect(rdcp::kGetStatus);
  ASSERT_TRUE(peer.Reply(rdcp::kRecordingStarted));
  EXPECT_LT(session->StatusAnsweredThrough(), third);
  ASSERT_TRUE(peer.Reply(rdcp::kStatusReply, 0, StatusBytes(4)));
  ASSERT_TRUE(WaitFor([&] { return session->StatusAnsweredThrough() >= third; }));
}

TEST_F(SessionTest, CloseSessionGoesOutAheadOfAWaitingRequestOnce) {
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_FALSE(session->WaitCloseSessionSent(1000)) << "no CloseSession was asked for";
  ASSERT_EQ(session->RequestStatus(), engine::kOk);
  Expect(rdcp::kGetStatus);                        // left unanswered for now
  ASSERT_EQ(session->RequestTime(), engine::kOk);  // waits in the ring behind it
  ASSERT_EQ(session->CloseSession(), engine::kOk);
  ASSERT_EQ(session->CloseSession(), engine::kOk);
  EXPECT_TRUE(session->WaitCloseSessionSent(5000));
  // Next on the wire, before the status request's 2-second retransmission.
  EXPECT_TRUE(Expect(rdcp::kCloseSession, 1500ms).payload.empty());
  ASSERT_TRUE(peer.Reply(rdcp::kStatusReply, 0, StatusBytes(0)));
  Expect(rdcp::kGetTime);  // and only once: no second 17 went out before it
}

// -------------------------------------------------------------- catalogue

TEST_F(SessionTest, OpenSendsOneBytePerPasswordDigitAndAnswersTheChallenge) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  const uint8_t pw[6] = {7, 0x0B, 0, 9, 0x0A, 0x0F};
  ASSERT_EQ(session->OpenSession(pw), engine::kOk);
  PeerMsg open = Expect(rdcp::kOpenSession);
  EXPECT_EQ(open.param, 0);
  EXPECT_EQ(open.payload, (std::vector<uint8_t>{7, 0x0B, 0, 9, 0x0A, 0x0F}));
  ASSERT_TRUE(peer.Reply(rdcp::kSessionAccepted, 0, {0xFF}));
  PeerMsg answer = Expect(rdcp::kChallengeAnswer);
  EXPECT_EQ(answer.param, 0xFF ^ 0x6E);
  EXPECT_TRUE(answer.payload.empty());
  // The answer expects no reply: the next request follows without one.
  ASSERT_EQ(session->RequestSettings(), engine::kOk);
  Expect(rdcp::kGetSettings, 500ms);
}

TEST_F(SessionTest, RequestPayloadsOnTheWire) {
  ASSERT_NO_FATAL_FAILURE(Open());
  uint8_t hours[24] = {1, 2, 3, 0};
  ASSERT_EQ(session->SetSchedule(hours), engine::kOk);
  EXPECT_EQ(Expect(rdcp::kSetSchedule).payload, (std::vector<uint8_t>{0x39, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(peer.Reply(rdcp::kScheduleChanged));

  ASSERT_EQ(session->PlayEvent(1, 0x00000102), engine::kOk);
  EXPECT_EQ(Expect(rdcp::kPlay).payload, (std::vector<uint8_t>{1, 0, 0, 1, 2}));
  ASSERT_TRUE(peer.Reply(rdcp::kPlayAccepted));

  DvrTime t = UnpackTime(std::array<uint8_t, 6>{10, 20, 12, 24, 12, 26}.data(), 6);
  ASSERT_EQ(session->PlayFrom(0, t), engine::kOk);
  EXPECT_EQ(Expect(rdcp::kPlay).payload, (std::vector<uint8_t>{0, 10, 20, 12, 24, 12, 26}));
  ASSERT_TRUE(peer.Reply(rdcp::kPlayAccepted));

  ASSERT_EQ(session->Play(), engine::kOk);
  EXPECT_TRUE(Expect(rdcp::kPlay).payload.empty());
  ASSERT_TRUE(peer.Reply(rdcp::kPlayAccepted));

  ASSERT_EQ(session->SetTime(t), engine::kOk);
  EXPECT_EQ(Expect(rdcp::kSetTime).payload, (std::vector<uint8_t>{10, 20, 12, 24, 12, 26}));
  ASSERT_TRUE(peer.Reply(rdcp::kTimeChanged));

  ASSERT_EQ(session->SetStreamFilter(4, 0x93), engine::kOk);
  EXPECT_EQ(Expect(rdcp::kSetStreamFilter).payload, (std::vector<uint8_t>{4, 0x93}));
  ASSERT_TRUE(peer.Reply(rdcp::kStreamFilterChanged));
  ASSERT_TRUE(WaitFor([&] { return sink.CountReply(rdcp::kStreamFilterChanged) == 1; }));

  ASSERT_EQ(session->CloseSession(), engine::kOk);
  PeerMsg close = Expect(rdcp::kCloseSession);
  EXPECT_TRUE(close.payload.empty());
  EXPECT_EQ(sink.CountReply(rdcp::kPlayAccepted), 3);
  EXPECT_EQ(session->StreamFrameInterval(), 4);
  EXPECT_EQ(session->StreamFilter(), 0x93);
  uint8_t back[24];
  session->Schedule(back);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 4), (std::vector<uint8_t>{1, 2, 3, 0}));
}

TEST_F(SessionTest, ChangesAreStoredOnlyOnTheirOwnAcknowledgement) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_EQ(session->SetInputChannels(0x0C), engine::kOk);
  Expect(rdcp::kSetInputChannels);
  EXPECT_EQ(session->InputChannels(), ChannelDisplayState{});  // not yet acknowledged
  ASSERT_TRUE(peer.Reply(rdcp::kInputChannelsChanged));
  ASSERT_TRUE(WaitFor([&] { return sink.CountReply(rdcp::kInputChannelsChanged) == 1; }));
  EXPECT_EQ(session->InputChannels(), (ChannelDisplayState{0, {1, 1, 0, 0}}));

  // Several changes queued before the first acknowledgement each store their
  // own value when acknowledged.
  ASSERT_EQ(session->SetVideoQuality(2), engine::kOk);
  ASSERT_EQ(session->SetAlarmOnDuration(10), engine::kOk);
  ASSERT_EQ(session->SetRecordFrameRate(4), engine::kOk);
  ASSERT_EQ(session->SetAudioFlags(1), engine::kOk);
  Expect(rdcp::kSetVideoQuality);
  ASSERT_TRUE(peer.Reply(rdcp::kVideoQualityChanged));
  Expect(rdcp::kSetAlarmOnDuration);
  EXPECT_EQ(session->VideoQuality(), 2);
  ASSERT_TRUE(peer.Reply(rdcp::kAlarmOnDurationChanged));
  Expect(rdcp::kSetRecordFrameRate);
  ASSERT_TRUE(peer.Reply(rdcp::kNak, 2));  // rejected: stays as it was
  Expect(rdcp::kSetAudioFlags);
  // A status push between the audio request and its acknowledgement is not
  // undone by the acknowledgement.
  ASSERT_TRUE(peer.Write(
      Concat({Msg(rdcp::kStatusPush, 0, StatusBytes(4, 1, 0)), Msg(rdcp::kAudioFlagsChanged)})));
  ASSERT_TRUE(WaitFor([&] { return sink.CountReply(rdcp::kAudioFlagsChanged) == 1; }));
  EXPECT_EQ(session->VideoQuality(), 2);
  EXPECT_EQ(session->AlarmOnDuration(), 10);
  EXPECT_EQ(session->RecordFrameRate(), 0);
  EXPECT_EQ(session->AudioRecordingEnabled(), 1);
  EXPECT_EQ(session->SpeakerMuted(), 0);
  EXPECT_EQ(session->DvrMode(), 4);
  EXPECT_EQ(session->InputChannels(), (ChannelDisplayState{0, {1, 1, 0, 0}}));
}

TEST_F(SessionTest, ReplyToARequestSentWithoutReplyCompletesTheNextOne) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_EQ(session->StartRecording(), engine::kOk);
  ASSERT_EQ(session->RequestStatus(), engine::kOk);
  Expect(rdcp::kStartRecording);
  Expect(rdcp::kGetStatus);  // not held back: 32 expects no reply
  ASSERT_TRUE(peer.Reply(rdcp::kRecordingStarted));
  ASSERT_TRUE(WaitFor([&] { return sink.CountReply(rdcp::kRecordingStarted) == 1; }));
  EXPECT_GE(sink.info_changed(), 1);
  // The status request counts as answered: the next request goes out at once.
  ASSERT_EQ(session->RequestTime(), engine::kOk);
  Expect(rdcp::kGetTime, 500ms);
}

TEST_F(SessionTest, EventListPartsInOneReadAreAllAppendedAndSortedNewestFirst) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_EQ(session->RequestEventList(), engine::kOk);
  ASSERT_EQ(session->RequestEventList(), engine::kOk);  // refused: one list at a time
  Expect(rdcp::kGetEventList);
  std::vector<uint8_t> part1 = Concat({EventBytes(1, 20, 1, 1), EventBytes(2, 21, 6, 1)});
  std::vector<uint8_t> part2 = Concat({EventBytes(3, 20, 12, 31, 23, 59, 59)});
  std::vector<uint8_t> part3 = Concat({EventBytes(4, 21, 6, 1, 0, 0, 1), {0xAB, 0xCD}});
  ASSERT_TRUE(
      peer.Write(Concat({Msg(rdcp::kEventListPart, 0, part1), Msg(rdcp::kEventListPart, 0, part2),
                         Msg(rdcp::kEventListPart, 0, part3)})));
  EXPECT_TRUE(peer.Quiet(300ms));  // only one request went out
  std::vector<EventRecord> list;
  EXPECT_FALSE(session->EventList(&list));  // not complete yet
  ASSERT_TRUE(peer.Reply(rdcp::kEventListPart));
  ASSERT_TRUE(WaitFor([&] { return sink.CountReply(rdcp::kEventListPart) == 1; }));
  ASSERT_TRUE(session->EventList(&list));
  std::vector<uint32_t> ids;
  for (const auto& e : list) ids.push_back(e.id);
  EXPECT_EQ(ids, (std::vector<uint32_t>{4, 2, 3, 1}));
  EXPECT_FALSE(session->EventListRequested());

  // An empty list: count 0, valid.
  ASSERT_EQ(session->RequestEventList(), engine::kOk);
  Expect(rdcp::kGetEventList);
  ASSERT_TRUE(peer.Reply(rdcp::kEventListPart));
  ASSERT_TRUE(WaitFor([&] { return sink.CountReply(rdcp::kEventListPart) == 2; }));
  ASSERT_TRUE(session->EventList(&list));
  EXPECT_TRUE(list.empty());
}

TEST_F(SessionTest, EventListKeepsTheNewest256) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_EQ(session->RequestEventList(), engine::kOk);
  Expect(rdcp::kGetEventList);
  // 260 events in 20 parts of 13; ids 0..259, later ids later in time.
  std::vector<uint8_t> all;
  for (uint32_t id = 0; id < 260; ++id) {
    auto e = EventBytes(id, 20, 1 + id / 28 % 12, 1 + id % 28, static_cast<uint8_t>(id / 200));
    all.insert(all.end(), e.begin(), e.end());
    if (id % 13 == 12) {
      ASSERT_TRUE(peer.Write(Msg(rdcp::kEventListPart, 0, all)));
      all.clear();
    }
  }
  ASSERT_TRUE(peer.Reply(rdcp::kEventListPart));
  ASSERT_TRUE(WaitFor([&] { return sink.CountReply(rdcp::kEventListPart) == 1; }));
  std::vector<EventRecord> list;
  ASSERT_TRUE(session->EventList(&list));
  ASSERT_EQ(list.size(), 256u);
  for (const auto& e : list) EXPECT_GE(e.id, 4u) << "the earliest entries are overwritten";
  for (std::size_t i = 1; i < list.size(); ++i)
    EXPECT_GE(CompareDvrTime(list[i - 1].start, list[i].start), 0) << i;
}

TEST_F(SessionTest, EventListPartsCountAsProgressAndARejectionClearsTheMark) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_EQ(session->RequestEventList(), engine::kOk);
  Expect(rdcp::kGetEventList);
  // Parts keep arriving for longer than the 2 s retransmission delay: the
  // request is not sent again (that would duplicate the entries).
  for (uint32_t i = 0; i < 5; ++i) {
    ASSERT_TRUE(peer.Write(Msg(rdcp::kEventListPart, 0, EventBytes(i, 20, 1, 1 + i))));
    ASSERT_TRUE(peer.Quiet(600ms));
  }
  ASSERT_TRUE(peer.Reply(rdcp::kEventListPart));
  ASSERT_TRUE(WaitFor([&] { return sink.CountReply(rdcp::kEventListPart) == 1; }));
  std::vector<EventRecord> list;
  ASSERT_TRUE(session->EventList(&list));
  EXPECT_EQ(list.size(), 5u);

  // A rejected event-list request does not block later ones.
  ASSERT_EQ(session->RequestEventList(), engine::kOk);
  Expect(rdcp::kGetEventList);
  ASSERT_TRUE(peer.Reply(rdcp::kNak, 4));
  ASSERT_TRUE(WaitFor([&] { return !session->EventListRequested(); }));
  EXPECT_EQ(sink.CountReply(rdcp::kNak), 0);
  ASSERT_EQ(session->RequestEventList(), engine::kOk);
  Expect(rdcp::kGetEventList);
}

TEST_F(SessionTest, SettingsRecordAndDiskGetters) {
  ASSERT_NO_FATAL_FAILURE(Open());
  struct Case {
    uint8_t audio_flags, audio_available, want_flags, want_available;
  };
  int n = 0;
  for (Case c : {Case{0x07, 0x03, 0, 3}, Case{0x03, 0x04, 3, 0}, Case{0x80, 0x01, 0, 1}}) {
    SCOPED_TRACE(n);
    std::vector<uint8_t> s(40, 0);  // longer than 32: cut
    s[0] = 1;
    s[8] = 1;                                  // master installed
    s[9] = 0;                                  // slave not installed
    s[10] = 1;                                 // master overwriting
    s[11] = 1;                                 // slave "overwriting", ignored
    s[12] = 0x00, s[13] = 0x2C, s[14] = 0x01;  // master 300 MB
    s[16] = 0x00, s[17] = 0x2C, s[18] = 0x01;  // slave 300 MB, not installed
    s[20] = 0x00, s[21] = 0x64;                // master used 100 MB
    s[28] = c.audio_flags;
    s[29] = c.audio_available;
    s[35] = 0xEE;
    RoundTrip(&RdcpSession::RequestSettings, rdcp::kGetSettings, rdcp::kSettingsReply, s);
    ++n;
    EXPECT_TRUE(session->SettingsValid());
    EXPECT_EQ(session->State().settings.audio_flags, c.want_flags);
    EXPECT_EQ(session->AudioAvailable(), c.want_available);
    EXPECT_EQ(session->DiskInstalled(0), 1);
    EXPECT_EQ(session->DiskCapacityMb(0), 300u);
    EXPECT_EQ(session->DiskUsedMb(0), 100u);
    EXPECT_EQ(session->DiskOverwriting(0), 1);
    EXPECT_EQ(session->DiskInstalled(1), 0);
    EXPECT_EQ(session->DiskCapacityMb(1), 0u);
    EXPECT_EQ(session->DiskOverwriting(1), 0);
    EXPECT_EQ(session->DiskCapacityMb(7), 0u);
  }
  // Message 72 clears the master disk's overwriting byte and used space.
  ASSERT_TRUE(peer.Reply(rdcp::kMasterDiskCleared));
  ASSERT_TRUE(WaitFor([&] { return sink.CountReply(rdcp::kMasterDiskCleared) == 1; }));
  EXPECT_EQ(session->DiskUsedMb(0), 0u);
  EXPECT_EQ(session->DiskOverwriting(0), 0);
  EXPECT_EQ(session->DiskCapacityMb(0), 300u);
}

TEST_F(SessionTest, ScheduleReplyOfTheWrongSizeIsIgnoredButReported) {
  ASSERT_NO_FATAL_FAILURE(Open());
  RoundTrip(&RdcpSession::RequestSchedule, rdcp::kGetSchedule, rdcp::kScheduleReply, {0xFF, 0xFF});
  EXPECT_FALSE(session->State().schedule_valid);
  int info = sink.info_changed();
  RoundTrip(&RdcpSession::RequestSchedule, rdcp::kGetSchedule, rdcp::kScheduleReply,
            {0x39, 0, 0, 0, 0, 0xC0});
  EXPECT_TRUE(session->State().schedule_valid);
  EXPECT_EQ(sink.info_changed(), info + 1);
  uint8_t hours[24];
  session->Schedule(hours);
  EXPECT_EQ(hours[0], 1);
  EXPECT_EQ(hours[2], 3);
  EXPECT_EQ(hours[23], 3);
}

TEST_F(SessionTest, StatusChangedAsksForTheStatus) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(peer.Reply(rdcp::kStatusChanged));
  Expect(rdcp::kGetStatus);
  ASSERT_TRUE(peer.Reply(rdcp::kStatusReply, 0, StatusBytes(1, 2, 0x10, 6)));
  ASSERT_TRUE(WaitFor([&] { return sink.CountReply(rdcp::kStatusReply) == 1; }));
  EXPECT_EQ(sink.CountReply(rdcp::kStatusChanged), 0);
  EXPECT_EQ(session->DvrMode(), 1);
  EXPECT_EQ(session->PlaySpeed(), 6);
  EXPECT_EQ(session->AudioEnabled(), 0);
  EXPECT_EQ(sink.statuses(), 1);
}

TEST_F(SessionTest, AlarmRecordingMemoryRestoresTheStreamPair) {
  struct Case {
    uint8_t after;  // mode of the second status push
    bool resend;
  };
  ASSERT_NO_FATAL_FAILURE(Open());
  for (Case c : {Case{4, true}, Case{0, false}, Case{7, true}}) {
    SCOPED_TRACE(int(c.after));
    ASSERT_EQ(session->SetStreamFilter(2, 0x81), engine::kOk);
    Expect(rdcp::kSetStreamFilter);
    ASSERT_TRUE(peer.Reply(rdcp::kStreamFilterChanged));
    // Mode 6; a status reply during it does not replace the remembered pair.
    ASSERT_TRUE(peer.Reply(rdcp::kStatusPush, 0, StatusBytes(6, 9, 0x0F)));
    ASSERT_TRUE(peer.Reply(rdcp::kStatusPush, 0, StatusBytes(6, 9, 0x0F)));
    ASSERT_EQ(session->RequestStatus(), engine::kOk);
    Expect(rdcp::kGetStatus);
    ASSERT_TRUE(peer.Reply(rdcp::kStatusReply, 0, StatusBytes(6, 9, 0x0F)));
    ASSERT_TRUE(peer.Reply(rdcp::kStatusPush, 0, StatusBytes(c.after, 9, 0x0F)));
    if (c.resend) {
      PeerMsg m = Expect(rdcp::kSetStreamFilter);
      EXPECT_EQ(m.payload, (std::vector<uint8_t>{2, 0x81}));
      ASSERT_TRUE(peer.Reply(rdcp::kStreamFilterChanged));
    } else {
      EXPECT_TRUE(peer.Quiet(300ms));
      // Leave the memory: a later non-zero mode re-sends once.
      ASSERT_TRUE(peer.Reply(rdcp::kStatusPush, 0, StatusBytes(4, 9, 0x0F)));
      Expect(rdcp::kSetStreamFilter);
      ASSERT_TRUE(peer.Reply(rdcp::kStreamFilterChanged));
    }
  }
}

TEST(SessionCache, StreamHeaderAndChannelGetters) {
  RdcpSession s;
  RecTime t{26, 12, 9, 23, 30, 15};
  s.StoreStreamHeader(t, 3, 0x0A);  // CH1 and CH3 present
  DvrStateBlock b = s.State();
  EXPECT_EQ(b.rate_code, 3);
  EXPECT_EQ(b.stream_content, 0x0A);
  EXPECT_EQ(b.time.year, 26);
  EXPECT_EQ(b.time.second, 15);
  EXPECT_EQ(s.StreamChannelsPresent(), (ChannelDisplayState{0, {1, 0, 1, 0}}));
  EXPECT_EQ(s.StreamChannelsShown(), (ChannelDisplayState{0, {1, 0, 1, 0}}));
  EXPECT_EQ(s.StreamChannelsWanted(), (ChannelDisplayState{0, {1, 1, 1, 1}}));
  // Filter excludes CH1 (bit 0) and the status says PLAY: the header time is
  // the recorded time and is not taken as the DVR clock.
  const auto push = Msg(rdcp::kStatusPush, 0, StatusBytes(1, 0, 0x81));
  s.ProcessRead(push.data(), push.size());
  s.StoreStreamHeader(RecTime{20, 1, 1, 0, 0, 0}, 3, 0x1F);
  EXPECT_EQ(s.State().time.year, 26);
  EXPECT_EQ(s.StreamChannelsPresent(), (ChannelDisplayState{1, {1, 1, 1, 1}}));
  EXPECT_EQ(s.StreamChannelsShown(), (ChannelDisplayState{1, {0, 1, 1, 1}}));
  EXPECT_EQ(s.StreamChannelsWanted(), (ChannelDisplayState{0, {0, 1, 1, 1}}));
  DvrTime unused;
  EXPECT_FALSE(s.Time(&unused));  // no time reply yet
}

// ------------------------------------------------------------ connection

TEST_F(SessionTest, RefusedConnectIsReportedAndNothingElse) {
  ScriptedPeer closed;
  uint16_t port = closed.port();
  closed.CloseListener();
  ASSERT_EQ(session->SetSink(&sink), engine::kOk);
  ASSERT_EQ(session->Start(), engine::kOk);
  ASSERT_EQ(session->SetRemote("127.0.0.1", port), engine::kOk);
  ASSERT_TRUE(WaitFor([&] { return !sink.connects().empty(); }));
  EXPECT_EQ(sink.connects(), (std::vector<int>{ECONNREFUSED}));
  EXPECT_EQ(sink.closes(), 0);
  EXPECT_TRUE(sink.receive_errors().empty());
  EXPECT_TRUE(sink.replies().empty());
}

TEST_F(SessionTest, PeerCloseIsReportedExactlyOnce) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_EQ(session->RequestStatus(), engine::kOk);
  Expect(rdcp::kGetStatus);
  peer.CloseClient();
  ASSERT_TRUE(WaitFor([&] { return sink.closes() == 1; }));
  EXPECT_FALSE(session->IsConnected());
  EXPECT_FALSE(WaitFor([&] { return sink.closes() > 1 || !sink.receive_errors().empty(); },
                       1200ms));  // the retransmission finds no connection either
  EXPECT_EQ(session->Stop(), engine::kOk);
}

}  // namespace
}  // namespace rd
