#pragma once
// The one callback interface through which every worker object of the client
// engine reports to its owner: the control session, the stream receiver, the
// frame-interval adjuster, the local recorder and player and the audio output.
// Every slot has an empty default body, so an owner overrides only what it
// needs and a worker may always call any slot. Callbacks run on the worker's
// thread and must return promptly.
//
// Arguments: `error` is 0 or an errno value; `type` is an RDCP message type and
// the `error` beside it the code of a negative acknowledgement (else 0).

#include <cstdint>

#include "shared/stream/ChannelDisplayState.h"
#include "shared/stream/StreamPacket.h"

namespace rd {

// The stream receiver's frame and audio slots (client/engine/stream), handed
// over while the receiver holds the slot's lock.
struct FrameSlot;
struct AudioSlot;

class EngineEvents {
 public:
  virtual ~EngineEvents() = default;

  // 1: frame-interval adjuster (user-interface thread).
  virtual void OnFrameIntervalChosen(uint8_t /*interval*/) {}
  // 2-8: control session. 2-5, 7, 8 on the control socket thread; 6 on the
  // thread that calls the keep-alive tick (the user-interface thread).
  virtual void OnCtrlConnect(int /*error*/) {}
  virtual void OnCtrlClose(int /*error*/) {}
  virtual void OnCtrlReceiveError(int /*error*/) {}
  virtual void OnRdcpReply(int /*type*/, int /*error*/) {}
  virtual void OnPollTimeout() {}
  virtual void OnDvrInfoChanged() {}
  virtual void OnDvrStatus(int /*unused*/) {}
  // 9-17: stream receiver (stream socket thread).
  virtual void OnStreamConnect(int /*error*/) {}
  virtual void OnStreamClose(int /*error*/) {}
  virtual void OnStreamError(int /*error*/) {}
  virtual void OnStreamBytes(uint32_t /*count*/) {}
  virtual void OnStreamGap(uint32_t /*milliseconds*/) {}
  virtual void OnFrameRestart() {}
  virtual void OnStreamHeader(const RecTime& /*time*/, uint8_t /*rateCode*/,
                              uint8_t /*channelSet*/) {}
  virtual void OnVideoFrame(FrameSlot& /*slot*/, const RecTime& /*time*/, uint8_t /*rateCode*/,
                            uint8_t /*channelSet*/) {}
  virtual void OnAudioBlock(AudioSlot& /*slot*/) {}
  // 18-19: local recorder (its writer thread).
  virtual void OnRecordFileCreateError() {}
  virtual void OnRecordFileWriteError() {}
  // 20-21: local player (its reader thread). `state` is the player's state byte.
  virtual void OnPlaybackFrame(const uint8_t* /*data*/, uint32_t /*length*/,
                               const ChannelDisplayState& /*channels*/, const RecTime& /*time*/,
                               uint8_t /*state*/) {}
  virtual void OnPlaybackAudio(const uint8_t* /*data*/, uint32_t /*length*/) {}
  // 22: audio output (the thread that handed it a block).
  virtual void OnAudioQueueFull() {}
};

}  // namespace rd
