#include "player/playback/PlaybackSinks.h"

#include "shared/audio/AudioOutput.h"
#include "shared/avi/AviWriter.h"

namespace rd {

void AudioOutputSink::PlayAudio(const uint8_t* alaw, std::size_t length) {
  output_.PlayBlockInOrder(alaw, length);
}

int AviWriterSink::AddVideoFrame(const uint8_t* bottom_up, std::size_t length) {
  return writer_.AddVideoFrame(bottom_up, length, true);
}

int AviWriterSink::AddAudio(const uint8_t* alaw, std::size_t length) {
  return writer_.AddAudio(alaw, length);
}

}  // namespace rd
