#pragma once
// The player's playback engine. It plays the recording area of a DVR disk
// from a byte position:
//
//  - the load thread reads 2 MiB chunks (RecordingRing) into two alternating
//    StreamBuffers: the one it fills next (fill index) and the one the image
//    thread plays (play index);
//  - the image thread walks the frames of the play buffer, decodes the ones
//    to be shown (one decoder per channel code, DecoderBank), draws them into
//    the memory picture (640 x 436: one channel full size, or four quadrants,
//    with outlined "CH1".."CH4" labels), at the recorded pace, faster,
//    backwards or one frame at a time;
//  - AudioTick (every 500 ms) plays one 4000-byte audio packet of the frames
//    being shown and adds it to a running AVI export;
//  - RepaintTick (every 33 ms) presents the picture and adds it, stamped with
//    the time of the last frame drawn, to the AVI export.
//
// The owner (the player's main window, or `dvrdisk play`) issues the commands
// and calls both ticks, all on one thread (its user-interface thread). The
// engine reports the time text, the channel buttons, the end of the recording
// and its messages through PlaybackView, from any thread.
//
// Threads are woken through one condition variable and joined; no thread
// sleeps for a fixed time. Commands never wait for more than the frame being
// decoded.

#include <QImage>
#include <QVector>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "player/disk/RecordingIndex.h"
#include "player/disk/SectorDevice.h"
#include "player/playback/ChunkLoader.h"
#include "player/playback/DecoderBank.h"
#include "player/playback/PlaybackClock.h"
#include "player/playback/PlaybackSinks.h"
#include "player/playback/PlaybackTrace.h"
#include "player/playback/RecordingRing.h"
#include "shared/video/VideoSurface.h"

namespace rd {

// Buttons the engine disables at the ends of a recording (bit mask).
enum TransportButton : unsigned {
  kButtonPreviousFrame = 1u << 0,
  kButtonReverse = 1u << 1,
  kButtonPause = 1u << 2,
  kButtonPlay = 1u << 3,
  kButtonNextFrame = 1u << 4,
};

// What the engine tells its window. The worker threads call the first four;
// an implementation queues them to its user-interface thread, returns at
// once and never calls back into the engine from them. Present runs on the
// thread that calls RepaintTick.
class PlaybackView {
 public:
  virtual ~PlaybackView() = default;
  // The time text ("20YY/MM/DD hh:mm:ss") of the last frame drawn.
  virtual void ShowTime(const std::string& text) { (void)text; }
  // CH1..CH4 and "ALL": disabled while the recorder's quad pictures are shown.
  virtual void EnableChannelButtons(bool enabled) { (void)enabled; }
  // The end of an unwrapped recording: TransportButton bits to disable.
  virtual void DisableTransport(unsigned buttons) { (void)buttons; }
  // "READ HDD Error", "File Open Error".
  virtual void ShowMessage(const std::string& text) { (void)text; }
  // The picture to show in the window (valid until the next call).
  virtual void Present(const QImage& picture) { (void)picture; }
};

// How forward play at the recorded rate stands against the audio of the
// buffer it plays: with `remaining` of the buffer's audio packets still to be
// played at frame `index` of `frames`, X = (frames - index) x 50,000 /
// remaining is compared with the buffer's frames per audio packet (frames x
// 50,000 / audio packets): more than 5,000 above X, the picture is ahead and
// waits one frame interval; more than 5,000 below, it is behind and skips a
// frame. No audio left in the buffer while frames are: behind.
enum class AudioPace { kOnTime, kAhead, kBehind };
AudioPace AudioPaceOf(uint32_t frames, int64_t index, uint32_t remaining,
                      uint32_t frames_per_audio_packet);

// The disk being played: its device, the size of its recording area and
// the recording's span (start and end time, W and the wrapped flag).
struct PlaybackDisk {
  std::string device_path;
  uint64_t area_bytes = 0;
  RecordingSpan span;
};

class PlaybackEngine {
 public:
  static constexpr int kWidth = 640;
  static constexpr int kHeight = 436;
  static constexpr int kQuadWidth = kWidth / 2;
  static constexpr int kQuadHeight = kHeight / 2;

  enum class PlayMode : int { kNone = 255, kStopped = 0, kForward = 1, kReverse = 2 };

  struct Options {
    PlaybackView* view = nullptr;
    PlaybackClock* clock = nullptr;  // null: the steady clock
    PlaybackAudioSink* audio = nullptr;
    PlaybackTrace* trace = nullptr;
    DeviceOpener opener = OpenSectorDevice;
  };

  enum class SetUp {
    kOk,
    kNoGuiApplication,
    kDecoderFailed,
    kLoadThreadFailed,
    kImageThreadFailed
  };

  explicit PlaybackEngine(Options options);
  ~PlaybackEngine();  // stops and joins both threads
  PlaybackEngine(const PlaybackEngine&) = delete;
  PlaybackEngine& operator=(const PlaybackEngine&) = delete;

  // Decoders, picture, labels and the two threads. Needs a QGuiApplication
  // (the offscreen platform is enough).
  SetUp Start();

  // ---- The window's flows ----
  // A disk was chosen: the pipeline stops, PlayMode becomes 255 and the play
  // position is the position value (whole chunks) within the area.
  void OpenDisk(const PlaybackDisk& disk, uint64_t position_value = 0);
  // A time was found (open disk or Search): playback starts forward at the
  // found packet's byte offset.
  void PlayFrom(uint64_t position);

  // ---- Commands ----
  void Play();
  void Reverse();
  void StepForward();
  void StepBackward();
  void Pause();
  void Stop();
  void SelectChannel(int channel);  // 1..4, or 5 for all
  void CycleSpeed();
  void SetHold(bool hold);

  // ---- Ticks of the owner ----
  void AudioTick();    // every 500 ms
  void RepaintTick();  // every 33 ms

  // ---- Capture and AVI ----
  // The AVI export the ticks feed (null: none); set and cleared by the owner.
  void SetAviSink(PlaybackAviSink* sink);
  // The picture with the time text of the last frame drawn at (w - 180,
  // h - 16) as a 24-bit bitmap file; the bitmap writer's code.
  int SaveBitmap(const std::string& path);
  // The memory picture as it is now.
  QImage Picture() const;
  // The picture with the time stamp, as the capture and the AVI frames hold it.
  QImage StampedPicture() const;

  // ---- State ----
  PlayMode play_mode() const;
  int direction() const;
  int selected_channel() const;
  int skip_factor() const;
  int speed_index() const;  // the cycle index the next Speed press uses
  std::string speed_caption() const;
  int64_t play_position() const;
  uint64_t position_value() const;  // whole chunks
  std::string time_text() const;    // of the last frame drawn; empty before the first
  bool step_hold() const;
  bool hold() const;

  struct Stats {
    uint64_t frames_walked = 0;
    uint64_t frames_shown = 0;
    uint64_t chunks_loaded = 0;
    uint64_t audio_packets = 0;  // handed to the audio sink
    uint64_t read_errors = 0;
    uint64_t open_errors = 0;
    bool ended = false;  // the end of an unwrapped recording stopped playback
    std::optional<RecTime> first_shown, last_shown;
  };
  Stats stats() const;

  // The frame drawn last: its recorded time, the byte offset in the area of
  // the packet holding its start code, and the frames drawn since set-up.
  struct DrawnFrame {
    RecTime time;
    uint64_t packet_position = 0;
    uint64_t count = 0;
  };
  std::optional<DrawnFrame> last_drawn() const;

  // The frame interval of audio-paced play in the buffer being played (us).
  uint32_t frame_interval_us() const;
  // When the image thread waits for the clock (pacing, or the retry of a
  // failed open): the clock time it waits for. Tests move a manual clock there.
  std::optional<PlaybackClock::Micros> clock_deadline() const;
  // Both threads wait, and nothing has woken them since: for a command, the
  // clock, or (loader) a buffer to fill. Tests and benchmarks step on from here.
  bool quiescent() const;

 private:
  struct BufferInfo {
    ChunkRange range;
    bool valid = false;
    int end_direction = 0;  // 1 / 2: no chunk there, the recording ends in that direction
  };
  // Where the audio of forward play is taken from: a StreamBuffer (0, 1) or
  // the carried rest of a buffer the loader is about to refill (2).
  struct AudioCursor {
    int source = -1;  // -1: unset
    uint32_t next = 0;
  };
  static constexpr int kCarry = 2;

  // Threads, and their waits: Block records what a thread waits on so that
  // quiescent() can tell; every change of shared state goes through Notify.
  static constexpr int kLoadThread = 0;
  static constexpr int kImageThread = 1;
  void Notify();
  void Block(std::unique_lock<std::mutex>& lock, int thread,
             PlaybackClock::WakePoint wake = PlaybackClock::WakePoint::max());
  void LoadLoop();
  void ImageLoop();

  // Load thread parts (mu_ held unless said).
  bool LoadWanted() const;
  void ApplyTurn();
  void CarryAudioOf(int buffer);
  bool ReadChunk(const ChunkRange& range, std::unique_lock<std::mutex>& lock, uint64_t generation);

  // Image thread parts.
  bool ReadyToPlay() const;
  void PlayBuffer(std::unique_lock<std::mutex>& lock, int b, uint64_t generation);
  void ReachEnd(std::unique_lock<std::mutex>& lock, const BufferInfo& info, uint64_t generation);
  void SyncAtEntry(const BufferInfo& info, bool forward_from_start);
  bool PaintFrame(const DecoderBank::Result& r, bool quadrant);
  void ReportShown(const RecTime& time);
  uint32_t AudioRemainingFor(int b) const;
  bool WaitForClock(std::unique_lock<std::mutex>& lock, PlaybackClock::Micros deadline,
                    uint64_t generation, int mode, int skip, bool stepping);

  // Commands.
  void Step(int direction);  // 1 forward, 2 backward
  // (mu_ held)
  void StopPipelineLocked(std::unique_lock<std::mutex>& lock);
  void StartPipelineLocked();
  bool AtOrBeforeStart(const RecTime& t) const;
  bool AtEnd(const RecTime& t) const;
  bool Stepping() const { return step_hold_forward_ || step_hold_backward_; }

  Options options_;
  SteadyPlaybackClock steady_clock_;
  PlaybackClock* clock_;
  PlaybackClock::Micros epoch_{0};

  ChunkLoader loader_;
  DecoderBank bank_;
  std::vector<uint8_t> chunk_;   // the load thread's read buffer
  std::vector<uint8_t> output_;  // the image thread's decoder output
  std::vector<uint8_t> carry_;   // audio carried out of a buffer being refilled
  uint32_t carry_count_ = 0;

  // Pictures.
  mutable std::mutex picture_mu_;
  QImage picture_;  // the memory picture (image thread draws, under picture_mu_)
  uint64_t picture_generation_ = 0;
  QImage window_picture_;  // what Present shows (owner's thread)
  uint64_t presented_generation_ = ~uint64_t{0};
  QImage stamp_picture_;  // capture and AVI frames (owner's thread)
  std::vector<uint8_t> stamp_bytes_;
  QVector<QRgb> palette_;
  video::OverlayText text_;
  std::array<QImage, 4> labels_;
  std::vector<uint8_t> audio_block_;  // owner's thread

  // Shared state, under mu_.
  mutable std::mutex mu_;
  std::condition_variable cv_;
  uint64_t wake_seq_ = 0;
  std::array<bool, 2> waiting_{};
  std::array<uint64_t, 2> seen_{};
  bool started_ = false;
  bool running_ = false;
  int mode_ = 255;
  int saved_mode_ = 0;
  int direction_ = 1;
  bool direction_changed_ = false;
  int64_t play_position_ = 0;
  bool at_end_ = false;  // no chunk at the play position in the current direction
  bool disk_open_ = false;
  PlaybackDisk disk_;
  RecordingRing ring_;
  int fill_ = 0;
  int play_ = 0;
  bool load_request_ = false;
  bool data_ready_ = false;
  bool loading_ = false;
  int loading_into_ = -1;
  bool load_enabled_ = false;
  bool image_enabled_ = false;
  bool load_failed_ = false;    // a read failed: no loads until the next start
  bool open_reported_ = false;  // "File Open Error" shown since the last start
  std::optional<PlaybackClock::Micros> open_retry_at_;
  uint64_t generation_ = 0;        // counts restarts of the pipeline
  uint64_t image_generation_ = 0;  // the restart the image thread has seen
  bool hold_ = false;
  bool step_hold_forward_ = false;
  bool step_hold_backward_ = false;
  int step_credit_ = 0;
  bool go_to_last_ = false;
  int selected_ = 5;
  int skip_factor_ = 1;
  int speed_ = 1;  // the speed of the caption: 1, 4, 16, 32, 64
  int speed_index_ = 1;
  std::array<int, kChannelCodes> counters_{1, 1, 1, 1, 1};
  bool refresh_ = false;
  std::array<BufferInfo, 2> info_;
  bool image_walking_ = false;        // the image thread is in buffer play_
  std::optional<ChunkRange> walked_;  // the chunk walked last
  struct LastWalk {
    ChunkRange range;
    uint8_t open_channel = 7;
    bool left_forward = false;  // walked off its end going forward
  };
  std::optional<LastWalk> last_walk_;
  std::optional<RecTime> current_time_;  // of the frame the image thread is at
  std::optional<RecTime> drawn_time_;    // of the last frame drawn
  uint64_t drawn_packet_ = 0;            // and where it lies
  uint64_t drawn_count_ = 0;
  uint32_t frame_interval_us_ = 0;
  PlaybackClock::Micros last_tick_{0};  // image thread: when the last frame's time began
  std::optional<PlaybackClock::Micros> clock_deadline_;
  AudioCursor audio_;
  bool audio_resync_ = true;
  bool channel_buttons_enabled_ = true;
  PlaybackAviSink* avi_ = nullptr;
  Stats stats_;

  std::thread load_thread_;
  std::thread image_thread_;
};

}  // namespace rd
