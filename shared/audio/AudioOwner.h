#pragma once
// What the audio output tells its owner. The client's engine event interface
// and the player implement it; the audio output knows nothing else of them.

namespace rd {

class AudioOwner {
 public:
  virtual ~AudioOwner() = default;

  // A block was queued and no buffer is free any more (the write index has
  // come round to the done index). Called on the thread that called
  // PlayBlock, after the block was queued; must return promptly.
  virtual void OnAudioQueueFull() {}
};

}  // namespace rd
