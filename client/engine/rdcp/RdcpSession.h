#pragma once
// The RDCP control session: the control connection to the DVR (TCP 14337),
// its message framing, the 32-slot send ring drained by a sender thread with
// reply tracking and retransmission, the receive parser that dispatches the
// DVR's messages, the keep-alive, every request of the catalogue, and the
// cached DVR state the replies fill in. Everything observable is reported to
// one EngineEvents sink.
//
// One request is outstanding at a time. A reply completes whatever request is
// at the ring's read position (replies carry no sequence number); a request
// without a reply is sent again after 1 s (2 s for the long-wait types 19, 20,
// 22, 34, 42), without limit. Change requests carry their own field and value
// to their acknowledgement, so several changes queued in a row each store
// their own value, and a rejected change leaves the cache unchanged.
//
// Threads: the socket thread runs the receive path and the sink callbacks
// (except OnPollTimeout, raised on the thread calling PollTick); the sender
// thread drains the ring; requests may be queued from any thread. The cache is
// guarded by a lock; the getters return copies.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "client/engine/net/EngineSocket.h"
#include "client/engine/rdcp/RdcpWire.h"
#include "client/events/EngineEvents.h"
#include "shared/stream/ChannelDisplayState.h"

namespace rd {

// The session's cache of what the DVR told it.
struct DvrStateBlock {
  uint8_t rate_code = 0;       // RateCode of the latest video chunk
  uint8_t stream_content = 0;  // ChannelSet of the latest video chunk
  bool settings_valid = false;
  DvrSettings settings;
  bool status_valid = false;
  DvrStatus status;
  bool time_valid = false;
  DvrTime time;
  bool schedule_valid = false;
  RecordSchedule schedule;
  bool event_list_valid = false;
};

class RdcpSession : public EngineSocket {
 public:
  static constexpr uint16_t kPort = 14337;
  static constexpr int kRingSlots = 32;
  static constexpr std::size_t kReceiveSize = 2048;
  static constexpr int kMaxEvents = 256;
  // Retransmission delays of a request whose reply does not come.
  static constexpr int kReplyTimeoutMs = 1000;
  static constexpr int kLongReplyTimeoutMs = 2000;
  // Pause of the sender after an answered request, before the next one.
  static constexpr int kAnsweredPauseMs = 10;

  RdcpSession();
  ~RdcpSession() override;

  // --- session control
  EngineResult SetSink(EngineEvents* sink);  // kNoSink if null
  // Creates the socket (and its thread) if needed and starts the sender;
  // kSessionAlreadyStarted. Then SetRemote(ip, kPort) connects.
  EngineResult Start();
  // Stops the sender, then closes the socket; kSessionNotStarted. Returns
  // within about a second whatever the peer does; no callback runs afterwards.
  EngineResult Stop();
  bool IsStarted() const { return started_.load(); }

  // Queues one framed message (length <= 255); kSenderNotRunning. Waits for
  // the sender while the ring is full (31 waiting messages).
  EngineResult Enqueue(const uint8_t* message, std::size_t length, bool no_reply,
                       uint8_t expected_reply);
  // Sends at once on the calling thread, bypassing the ring.
  EngineResult SendDirect(const uint8_t* message, std::size_t length);
  // Keep-alive; called once per second while connected. Every second call
  // sends a keep-alive; the sixth unanswered period raises OnPollTimeout.
  void PollTick();

  // The receive and dispatch path for one read of bytes (at most 2048 are
  // taken; the caller splits longer input). A message whose declared length
  // runs past the bytes is kept and completed by the next call. Used by the
  // socket thread; callable without a socket.
  void ProcessRead(const uint8_t* data, std::size_t size);

  // --- requests (each returns the result of Enqueue, or of Send for the two
  // direct ones). Request* queue the messages that fetch a record (GetSettings,
  // GetSchedule, GetTime, GetEventList, GetStatus); the reply fills the cache,
  // which the readers below return.
  // Six password digit values 0..15 in typed order. Clears the cache first.
  EngineResult OpenSession(const uint8_t password[6]);
  // Ends the session: message 17, written by the sender thread ahead of any
  // request waiting in the ring or for its reply (17 has none). Once per
  // connection; kNotConnected.
  EngineResult CloseSession();
  // After CloseSession: waits up to `timeout_ms` until 17 is written and the
  // peer's TCP has acknowledged it, so that closing the connection right
  // after cannot lose it. False at once when no 17 is waiting; false on
  // timeout or when its write failed (a DVR that is gone).
  bool WaitCloseSessionSent(int timeout_ms);
  EngineResult RequestSettings();
  EngineResult RequestSchedule();
  EngineResult SetSchedule(const uint8_t hours[24]);
  EngineResult RequestTime();
  EngineResult SetTime(const DvrTime& time);
  EngineResult SetRecordMode(uint8_t value);
  EngineResult SetInputChannels(uint8_t mask);
  EngineResult SetRecordChannels(uint8_t mask);
  EngineResult SetVideoQuality(uint8_t value);
  EngineResult SetRecordFrameRate(uint8_t value);
  EngineResult SetAlarmOnDuration(uint8_t seconds);
  EngineResult SetAlarmRecordDuration(uint8_t seconds);
  EngineResult StartRecording();
  EngineResult StopRecording();
  // Refused silently (0, nothing queued) while an event-list request runs.
  EngineResult RequestEventList();
  EngineResult Play();
  EngineResult PlayFrom(uint8_t disk, const DvrTime& start);
  EngineResult PlayEvent(uint8_t disk, uint32_t event_id);
  EngineResult StopPlay();
  EngineResult Pause();
  EngineResult FastForward();
  EngineResult Rewind();
  EngineResult SetStreamFilter(uint8_t interval, uint8_t filter);
  EngineResult RequestStatus();
  EngineResult SetAudioFlags(uint8_t flags);

  // Stores the info of the latest video chunk: rate code and stream content
  // byte always; the time as the DVR time unless the DVR is playing (mode 1-3).
  void StoreStreamHeader(const RecTime& time, uint8_t rate_code, uint8_t channel_set);

  // --- cache readers (copies; nothing is sent)
  DvrStateBlock State() const;
  uint8_t RecordMode() const;
  uint8_t VideoQuality() const;
  uint8_t VideoStandard() const;
  uint8_t RecordFrameRate() const;
  uint8_t AlarmOnDuration() const;
  uint8_t AlarmRecordDuration() const;
  uint8_t AudioAvailable() const;
  ChannelDisplayState InputChannels() const;   // 0, then CH1..CH4
  ChannelDisplayState RecordChannels() const;  // record mode byte, then CH1..CH4
  // disk 0 = master, 1 = slave; all 0 when that disk is not installed.
  uint8_t DiskInstalled(int disk) const;
  uint8_t DiskOverwriting(int disk) const;
  uint32_t DiskCapacityMb(int disk) const;
  uint32_t DiskUsedMb(int disk) const;
  uint8_t AudioRecordingEnabled() const;  // audio flags bit 0
  uint8_t SpeakerMuted() const;           // audio flags bit 1
  uint8_t DvrMode() const;
  uint8_t StreamFrameInterval() const;
  uint8_t StreamFilter() const;
  uint8_t PlaySpeed() const;
  uint8_t AudioEnabled() const;  // 1 when the filter does not exclude audio
  ChannelDisplayState StreamChannelsPresent() const;
  ChannelDisplayState StreamChannelsShown() const;
  ChannelDisplayState StreamChannelsWanted() const;
  bool Time(DvrTime* out) const;           // false until a time reply
  void Schedule(uint8_t hours[24]) const;  // zeros until a schedule arrived
  // Newest first; false (and `out` untouched) until the list is complete.
  bool EventList(std::vector<EventRecord>* out) const;
  bool SettingsValid() const;
  bool StatusValid() const;
  bool EventListRequested() const { return event_list_requested_.load(); }

  // Diagnostics for tests and tools: how many messages the sender has sent
  // again because their reply was late.
  uint32_t Retransmissions() const { return retransmissions_.load(); }
  // Negative acknowledgements by the request they refused (the one awaiting
  // its reply, else the last one sent without reply tracking): how many, and
  // the DVR's code of the latest. The sink hears only of a refused open.
  struct Refusal {
    uint32_t count = 0;
    uint8_t code = 0;
  };
  Refusal RefusalOf(uint8_t request_type) const;
  // Requests are numbered from 1 in the order they are queued. The number of
  // the latest GetStatus queued, and the number of the latest request
  // answered when the latest status reply arrived: a status with a number
  // >= n was sent by the DVR after it had answered every request up to n
  // (answers come in order), so it shows what those requests did.
  uint64_t LastStatusRequest() const;
  uint64_t StatusAnsweredThrough() const { return status_through_.load(); }

 protected:
  void OnConnect(int error) override;
  void OnClose(int error) override;
  void OnReceive(int error) override;
  void RunSender() override;
  void WakeSender() override;

 private:
  // What a change request stores when it is acknowledged.
  struct Change {
    bool present = false;
    uint8_t values[6]{};
  };
  struct Slot {
    uint8_t state = 0;  // 0 free/done, 1 waiting to be sent, 2 sent, awaiting reply
    uint8_t no_reply = 0;
    uint8_t expected = 0;
    uint8_t length = 0;
    uint8_t message[255]{};
    Change change;
    uint64_t number = 0;  // in the order queued
  };

  EngineEvents& Sink() const;
  EngineResult EnqueueRequest(uint8_t type, uint8_t param, const uint8_t* payload, std::size_t n,
                              bool no_reply = false, const Change* change = nullptr);
  EngineResult EnqueueFramed(const uint8_t* message, std::size_t length, bool no_reply,
                             uint8_t expected, const Change* change);
  EngineResult EnqueueChange(uint8_t type, const uint8_t* payload, std::size_t n);
  // Completes the slot at the read position. Returns true when a slot was
  // completed; its change (if any, and if its request expected `reply_type`) is
  // copied to *change.
  bool CompleteRequest(uint8_t reply_type, Change* change);
  void ClearRing();
  void ClearCache();
  // Returns true when the rest of the read is to be discarded.
  bool Dispatch(const rdcp::Frame& f);
  void HandleReply(uint8_t type, const uint8_t* payload, std::size_t n, bool ok, int error);
  void HandleEventList(const uint8_t* payload, std::size_t n, bool ok);
  void HandleStatusPush(const uint8_t* payload, std::size_t n);
  void RememberPair(uint8_t interval, uint8_t filter);

  std::atomic<EngineEvents*> sink_{nullptr};
  std::atomic<bool> started_{false};

  // Send ring. producer_mutex_ serialises producers (and is held while a full
  // ring is waited on); ring_mutex_ guards slots and indexes and is never held
  // during a send. ring_changed_ (with ring_mutex_) wakes the sender and a
  // producer waiting for room: a request queued, answered or in progress, a
  // slot freed, the stop.
  std::mutex producer_mutex_;
  mutable std::mutex ring_mutex_;
  std::condition_variable ring_changed_;
  Slot ring_[kRingSlots];
  uint8_t read_ = 0;
  uint8_t write_ = 0;
  bool awaiting_reply_ = false;
  bool long_wait_ = false;
  bool progress_ = false;  // a reply part arrived: restart the reply timer
  std::atomic<uint32_t> retransmissions_{0};
  uint64_t queued_number_ = 0;    // of the latest request queued
  uint64_t status_request_ = 0;   // of the latest GetStatus queued
  uint64_t answered_number_ = 0;  // of the latest request answered
  std::atomic<uint64_t> status_through_{0};
  uint8_t last_untracked_ = 0;       // type of the last request sent without reply tracking
  bool untracked_answered_ = false;  // ... and the DVR answers it (a change, recording)
  // CloseSession: 0 not asked, 1 waiting for the sender, 2 written, 3 the
  // write failed.
  std::atomic<int> close_state_{0};
  bool CloseAsked() const { return close_state_.load() == 1; }

  // Receive buffer: a read of up to 2048 bytes after the kept tail of a
  // message the previous read did not complete.
  uint8_t rx_[kReceiveSize + rdcp::kMaxMessage]{};
  std::size_t carry_ = 0;
  std::mutex rx_mutex_;

  // Keep-alive (thread calling PollTick) and its reply (socket thread).
  uint8_t keepalive_toggle_ = 0;
  uint8_t keepalive_seq_ = 0;
  std::atomic<int> missed_{0};

  uint8_t challenge_ = 0;
  std::atomic<bool> event_list_requested_{false};

  // The cache, the event list and the mode-6 memory.
  mutable std::mutex state_mutex_;
  DvrStateBlock cache_;
  EventRecord events_[kMaxEvents];
  int event_count_ = 0;                          // entries held, at most 256
  int event_next_ = 0;                           // next entry written; wraps 255 -> 0
  std::array<Refusal, 64> refusals_{};           // by request type
  bool pair_saved_ = false;                      // mode-6 memory active
  uint8_t pair_interval_ = 0, pair_filter_ = 0;  // last acknowledged pair
  uint8_t restore_interval_ = 0, restore_filter_ = 0;
};

}  // namespace rd
