#include "player/ui/models/PlayerControls.h"

#include "player/playback/PlaybackEngine.h"
#include "player/ui/rdplayerIds.h"

namespace rd::player {

using namespace ids;

const std::vector<int>& PlayerControls::PlaybackControls() {
  static const std::vector<int> kControls = {kPreviousFrame, kReverse,   kPause,    kPlay,
                                             kStop,          kNextFrame, kSpeed,    kSearch,
                                             kCapture,       kAvi,       kPosition, kPreviousEvent,
                                             kNextEvent,     kMarkIn,    kMarkOut,  kExportClip};
  return kControls;
}

PlayerControls::PlayerControls() {
  for (int id :
       {kChannel[0], kChannel[1], kChannel[2], kChannel[3], kAll, kHdd, kOpenImage, kNetwork})
    Set(id, true);
  for (int id : PlaybackControls()) Set(id, false);
}

bool PlayerControls::enabled(int id) const {
  const auto it = enabled_.find(id);
  return it != enabled_.end() && it->second;
}

void PlayerControls::Refresh() {
  Set(kPreviousEvent, disk_ && events_);
  Set(kNextEvent, disk_ && events_);
  Set(kExportClip, disk_ && marks_);
}

void PlayerControls::DiskOpened(bool has_events) {
  disk_ = true;
  events_ = has_events;
  marks_ = false;
  for (int id : PlaybackControls()) Set(id, true);
  Refresh();
}

void PlayerControls::NoData() {
  disk_ = false;
  events_ = false;
  marks_ = false;
  for (int id : PlaybackControls()) Set(id, false);
}

void PlayerControls::Pressed(int id) {
  // HDD and Open Image go together: both open a disk.
  auto hdd = [&](bool on) {
    Set(kHdd, on);
    Set(kOpenImage, on);
  };
  switch (id) {
    case kPreviousFrame:
      hdd(false);
      Set(kPlay, true);
      Set(kNextFrame, true);
      Set(kPause, true);
      break;
    case kReverse:
      hdd(true);
      Set(kPlay, true);
      Set(kNextFrame, true);
      Set(kPause, true);
      break;
    case kPlay:
      hdd(true);
      Set(kPreviousFrame, true);
      Set(kReverse, true);
      Set(kPause, true);
      break;
    case kNextFrame:
      hdd(false);
      Set(kPreviousFrame, true);
      Set(kReverse, true);
      Set(kPause, true);
      break;
    default:
      break;  // Pause, Stop, Speed, the channels: no control changes
  }
}

void PlayerControls::Found() {
  for (int id : {kPlay, kNextFrame, kPreviousFrame, kReverse, kPause}) Set(id, true);
}

void PlayerControls::EngineDisabled(unsigned buttons) {
  if (buttons & kButtonPreviousFrame) Set(kPreviousFrame, false);
  if (buttons & kButtonReverse) Set(kReverse, false);
  if (buttons & kButtonPause) Set(kPause, false);
  if (buttons & kButtonPlay) Set(kPlay, false);
  if (buttons & kButtonNextFrame) Set(kNextFrame, false);
}

void PlayerControls::SetChannelButtons(bool on) {
  for (int id : {kChannel[0], kChannel[1], kChannel[2], kChannel[3], kAll}) Set(id, on);
}

void PlayerControls::SetMarks(bool both) {
  marks_ = both;
  Refresh();
}

}  // namespace rd::player
