#pragma once
// Where the playback engine's sound and AVI frames go: the audio device and
// the AVI recorder of the program, or a recording sink in a test.

#include <cstddef>
#include <cstdint>

namespace rd {

class AudioOutput;
class AviWriter;

class PlaybackAudioSink {
 public:
  virtual ~PlaybackAudioSink() = default;
  // One block of A-law bytes in playing order (4000 bytes, half a second).
  virtual void PlayAudio(const uint8_t* alaw, std::size_t length) = 0;
};

class PlaybackAviSink {
 public:
  virtual ~PlaybackAviSink() = default;
  // One picture: bottom-up rows of 640 x 3 bytes (blue, green, red), 436 rows.
  virtual int AddVideoFrame(const uint8_t* bottom_up, std::size_t length) = 0;
  virtual int AddAudio(const uint8_t* alaw, std::size_t length) = 0;
};

// The audio device: blocks are queued as they are (no byte-pair exchange).
class AudioOutputSink : public PlaybackAudioSink {
 public:
  explicit AudioOutputSink(AudioOutput& output) : output_(output) {}
  void PlayAudio(const uint8_t* alaw, std::size_t length) override;

 private:
  AudioOutput& output_;
};

// A running AVI export; every frame is a key frame.
class AviWriterSink : public PlaybackAviSink {
 public:
  explicit AviWriterSink(AviWriter& writer) : writer_(writer) {}
  int AddVideoFrame(const uint8_t* bottom_up, std::size_t length) override;
  int AddAudio(const uint8_t* alaw, std::size_t length) override;

 private:
  AviWriter& writer_;
};

}  // namespace rd
