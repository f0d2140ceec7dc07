#pragma once
// The emulated DVR: a control server (RDCP, one client at a time), a stream
// server (2048-byte chunks of live or replayed video and audio) and the
// recorder (a disk image in the DVR disk layout). Runs in-process:
//
//   rd::sim::SimOptions o;
//   o.control_port = 0;  o.stream_port = 0;    // pick free ports
//   rd::sim::DvrSim dvr(o);
//   if (!dvr.Start(&error)) ...
//   connect to dvr.control_port(), dvr.stream_port() on 127.0.0.1
//   dvr.Stop();                                 // also done by the destructor
//
// Threads: the control thread (accepts, parses requests, answers, runs the
// mode machine, the schedule, the alarm and the timed scenarios) and the
// media thread (accepts the stream connection, captures and encodes the
// cameras, generates the audio, records to the disk, plays back from it and
// writes the stream). Shared state lives under one mutex; the disk under a
// second one, always taken after the first.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/engine/rdcp/RdcpWire.h"
#include "tools/dvrsim/CameraBank.h"
#include "tools/dvrsim/DiskRecorder.h"
#include "tools/dvrsim/Packetizer.h"
#include "tools/dvrsim/SimConfig.h"
#include "tools/dvrsim/SimLog.h"

namespace rd::sim {

// Negative-acknowledgement codes of this recorder (besides 1 and 10).
namespace nak {
inline constexpr uint8_t kRefused = 2;      // unknown request / refused by scenario
inline constexpr uint8_t kNotOpen = 3;      // no session open
inline constexpr uint8_t kBadRequest = 4;   // payload too short or value out of range
inline constexpr uint8_t kNotInView = 5;    // settings change outside VIEW mode
inline constexpr uint8_t kWrongMode = 6;    // not possible while playing / recording / idle
inline constexpr uint8_t kNoRecording = 7;  // nothing recorded to play
inline constexpr uint8_t kNoSuchDisk = 8;   // the slave disk is not installed
inline constexpr uint8_t kNoSuchEvent = 9;  // PlayEvent with an unknown id
}  // namespace nak

// Base frame rates by record frame rate index (frames/s of the multiplexed
// stream); the length of each table is the number of valid indexes.
std::vector<int> BaseFrameRates(bool pal);
// RateCode written with frames captured at `fps` frames/s: (30 / fps) - 1.
uint8_t RateCodeFor(double fps);

class DvrSim {
 public:
  explicit DvrSim(SimOptions options);
  ~DvrSim();
  DvrSim(const DvrSim&) = delete;
  DvrSim& operator=(const DvrSim&) = delete;

  // Opens the disk and the log, binds both ports and starts the threads.
  bool Start(std::string* error);
  // Ends both connections, stops the threads, ends an open event and writes
  // the status sector. Safe to call twice.
  void Stop();

  int control_port() const { return control_port_; }
  int stream_port() const { return stream_port_; }

  // Observers (tests, the summary line on exit).
  DvrStatus status();
  DvrSettings settings();
  DvrTime time();
  bool session_open();
  uint64_t frames_sent() const { return frames_sent_.load(); }
  uint64_t audio_sent() const { return audio_sent_.load(); }
  uint64_t frames_recorded() const { return frames_recorded_.load(); }
  uint64_t frames_dropped() const { return frames_dropped_.load(); }
  uint64_t chunks_sent() const { return chunks_sent_.load(); }
  uint64_t packets_recorded();

 private:
  enum class SessionState { kNone, kChallenge, kOpen };

  struct ControlConn {
    int fd = -1;
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    SessionState state = SessionState::kNone;
    uint8_t challenge = 0;
    std::chrono::steady_clock::time_point opened{};
    bool any_request_after_open = false;
    int drop_type = -1;  // request type whose first reply is dropped (-1 none, 0 pending)
    bool garbage_done = false;
    bool session_end_done = false;
    bool keypad_done = false;
    bool mode6_done = false;
    bool close_done = false;
  };

  // ------------------------------------------------------------ control
  void ControlLoop();
  void AcceptControl();
  void ReadControl();
  void HandleMessage(const rdcp::Frame& f);
  // Requests, under mu_: HandleRequest looks the type up in the request
  // table, applies the checks the table gives and calls the handler.
  struct RequestRoute;
  static const RequestRoute* FindRoute(uint8_t type);
  void HandleRequest(const rdcp::Frame& f);
  bool RequestScenario(const rdcp::Frame& f);
  bool ShortPayload(const rdcp::Frame& f, std::size_t need);
  bool ValidTime(const rdcp::Frame& f) const;
  bool ValidMask(const rdcp::Frame& f) const;
  bool ValidQuality(const rdcp::Frame& f) const;
  bool ValidFrameRate(const rdcp::Frame& f) const;
  bool ValidAlarmOnValue(const rdcp::Frame& f) const;
  bool ValidAlarmRecordValue(const rdcp::Frame& f) const;
  bool ValidAudioFlags(const rdcp::Frame& f) const;
  void OnOpenSession(const rdcp::Frame& f);
  void OnCloseSession(const rdcp::Frame& f);
  void OnChallengeAnswer(const rdcp::Frame& f);
  void OnKeepAlive(const rdcp::Frame& f);
  void OnGetSettings(const rdcp::Frame& f);
  void OnGetSchedule(const rdcp::Frame& f);
  void OnSetSchedule(const rdcp::Frame& f);
  void OnGetTime(const rdcp::Frame& f);
  void OnSetTime(const rdcp::Frame& f);
  void OnSetSetting(const rdcp::Frame& f);
  void OnSetStreamFilter(const rdcp::Frame& f);
  void OnGetStatus(const rdcp::Frame& f);
  void OnSetAudioFlags(const rdcp::Frame& f);
  void OnStartRecording(const rdcp::Frame& f);
  void OnStopRecording(const rdcp::Frame& f);
  void OnGetEventList(const rdcp::Frame& f);
  void OnPlay(const rdcp::Frame& f);
  void OnStopPlay(const rdcp::Frame& f);
  void OnPause(const rdcp::Frame& f);
  void OnFastForward(const rdcp::Frame& f);
  void OnRewind(const rdcp::Frame& f);
  void Reply(uint8_t type, uint8_t param = 0, const uint8_t* payload = nullptr, std::size_t n = 0);
  void Nak(uint8_t code) { Reply(rdcp::kNak, code); }
  void SendRaw(const uint8_t* data, std::size_t n);
  void FlushControl();
  void CloseControl(const char* why);
  void EndSession(const char* why);
  void Housekeeping();
  void PushStatus();     // notification 91
  void StatusChanged();  // notification 84
  void SendEventList();

  // ------------------------------------------------------------ state (mu_ held)
  int64_t NowSeconds() const;  // DVR clock, seconds since 1970 (calendar, no zone)
  RecTime NowRecTime() const;
  bool Playing() const { return status_.mode >= 1 && status_.mode <= 3; }
  bool Recording() const { return status_.mode >= 4 && status_.mode <= 7; }
  void SetMode(uint8_t mode, uint8_t speed, bool push);
  uint8_t ScheduledMode() const;
  void UpdateRecordingEvent(uint8_t old_mode, uint8_t new_mode);
  void StartPlayback(uint64_t logical);
  void UpdateDiskFields();

  // ------------------------------------------------------------ media
  void MediaLoop();
  void AcceptStream();
  void CloseStream(const char* why);
  void FlushStream();
  bool StreamRoom(std::size_t bytes) const;
  // The frame interval, counted per channel code so that every camera stays
  // in an interleaved stream: after a frame of a camera (or of the quad
  // picture) is sent, its next `interval` frames are skipped. A due frame that
  // cannot be sent (no room, a partial frame the client could not build on)
  // leaves the camera due.
  bool StreamDue(int code, uint8_t interval) const;
  void StreamOffered(int code, bool sent, uint8_t interval);
  // What the media thread takes from the shared state once per turn.
  struct MediaState {
    DvrSettings settings;
    DvrStatus status;
    bool live = false;       // the session is open
    bool recording = false;  // the mode records to the disk
    bool seek = false;       // playback starts anew at seek_to
    uint64_t seek_to = 0;
    RecTime rec_now;
    double fps = 1;
  };
  enum class ReverseStep { kFrame, kRetry, kStart };
  void PollStream();
  MediaState TakeMediaState();
  // Opens the stream for a new session, closes it when the session ends.
  void FollowSession(bool live, std::chrono::steady_clock::time_point now);
  void PlayTick(const MediaState& st, std::chrono::steady_clock::time_point now, bool streaming);
  // Next frame of backward play; kStart at the start of the recording.
  ReverseStep NextReverseFrame(PlaybackCursor::Item* item);
  void LiveTick(const MediaState& st, std::chrono::steady_clock::time_point now, bool streaming);
  void AudioTick(const MediaState& st, std::chrono::steady_clock::time_point now, bool streaming,
                 bool playing);
  static bool ChannelAllowed(int code, uint8_t filter);
  void SendFrame(int code, std::span<const uint8_t> frame, const FrameInfo& info);
  void SendAudio(const RecTime& time, const uint8_t* samples);
  void OnChunk(const uint8_t* chunk, bool video);
  double CaptureFps();

  SimOptions opt_;
  SimLog log_;

  std::mutex mu_;
  DvrSettings settings_{};
  DvrStatus status_{};
  RecordSchedule schedule_{};
  int64_t clock_offset_ = 0;
  bool armed_ = false;  // StartRecording received and not stopped
  std::optional<std::chrono::steady_clock::time_point> alarm_until_;
  bool alarm_pending_ = false;
  // Playback requests for the media thread.
  bool play_seek_pending_ = false;
  uint64_t play_seek_ = 0;
  uint64_t play_position_ = 0;
  bool have_play_position_ = false;
  std::atomic<bool> play_ended_{false};
  std::atomic<bool> stream_reset_{false};
  bool session_live_ = false;  // the stream may carry data (session open)
  std::chrono::steady_clock::time_point control_closed_at_{};  // of a live session
  static constexpr std::chrono::milliseconds kStreamAfterControlClose{300};
  uint64_t session_epoch_ = 0;

  std::mutex disk_mu_;
  DiskRecorder disk_;

  // Control thread only.
  int control_listen_ = -1;
  ControlConn conn_;
  bool join_next_ = false;  // two-replies: next message goes out with this one
  std::vector<uint8_t> joined_;

  // Media thread only.
  int stream_listen_ = -1;
  int stream_fd_ = -1;
  uint64_t stream_epoch_ = 0;
  bool stream_was_live_ = false;
  std::vector<uint8_t> stream_out_;
  std::size_t stream_out_pos_ = 0;
  std::size_t skip_bytes_ = 0;
  uint64_t video_chunks_ = 0;
  std::chrono::steady_clock::time_point stream_started_{};
  bool stream_close_done_ = false;
  std::unique_ptr<CameraBank> cameras_;
  std::unique_ptr<StreamChunker> chunker_;
  std::unique_ptr<PlaybackCursor> cursor_;
  std::array<uint64_t, 5> channel_frames_{};
  std::array<bool, 5> stream_synced_{};  // the client holds this channel's previous frame
  std::array<int, 5> stream_skip_{};     // frames of each code still to skip (interval)
  int next_channel_ = 0;
  uint64_t audio_samples_ = 0;
  std::vector<uint8_t> audio_block_;
  std::chrono::steady_clock::time_point play_due_{};
  std::chrono::steady_clock::time_point next_live_{};
  std::chrono::steady_clock::time_point next_audio_{};
  bool was_playing_ = false;
  std::array<bool, 5> disk_synced_{};  // the disk holds this channel's previous frame
  std::array<bool, 5> play_synced_{};  // as stream_synced_, for played-back frames
  bool reverse_ = false;               // backward play
  uint64_t rev_end_ = 0;               // backward play: end of the next window to read
  PlaybackCursor::Item play_item_;
  std::vector<PlaybackCursor::Item> rev_frames_;  // full frames of the window, oldest first

  std::atomic<bool> running_{false};
  int wake_fd_ = -1;  // eventfd waking both threads
  std::thread control_thread_;
  std::thread media_thread_;
  int control_port_ = 0;
  int stream_port_ = 0;

  std::atomic<uint64_t> frames_sent_{0};
  std::atomic<uint64_t> audio_sent_{0};
  std::atomic<uint64_t> frames_recorded_{0};
  std::atomic<uint64_t> frames_dropped_{0};
  std::atomic<uint64_t> chunks_sent_{0};
};

}  // namespace rd::sim
