#include "player/ui/rdplayerDlgLayout.h"

#include "player/ui/rdplayerIds.h"

namespace rd::player {
namespace {

using namespace ids;
using ui::ControlKind;
using ui::kChecked;
using ui::kDisabled;
using ui::kGroupStart;

// The picture buttons' texts are their tooltips (and accessible names).
const ui::ControlEntry kControls[] = {
    {kPicture, ControlKind::kCustom, "Video", 19, 7, 430, 294, ui::kNoFocus, {}},
    {kPosition, ControlKind::kCustom, "Position", 19, 304, 430, 12, kDisabled, {}},
    {kOpenImage, ControlKind::kButton, "Open Image...", 7, 321, 52, 14, 0, {}},
    {kPreviousEvent, ControlKind::kPictureButton, "Previous Event", 62, 321, 22, 14, kDisabled, {}},
    {kNextEvent, ControlKind::kPictureButton, "Next Event", 86, 321, 22, 14, kDisabled, {}},
    {kMarkIn, ControlKind::kPictureButton, "Mark In", 112, 321, 24, 14, kDisabled, {}},
    {kMarkOut, ControlKind::kPictureButton, "Mark Out", 138, 321, 24, 14, kDisabled, {}},
    {kExportClip, ControlKind::kPictureButton, "Export Clip", 164, 321, 26, 14, kDisabled, {}},
    {kMarks, ControlKind::kText, "", 7, 338, 183, 8, 0, {}},
    {kChannel[0], ControlKind::kPushRadio, "Channel 1", 7, 354, 29, 10, kGroupStart, {}},
    {kChannel[1], ControlKind::kPushRadio, "Channel 2", 42, 354, 29, 10, 0, {}},
    {kChannel[2], ControlKind::kPushRadio, "Channel 3", 77, 354, 29, 10, 0, {}},
    {kChannel[3], ControlKind::kPushRadio, "Channel 4", 112, 354, 29, 10, 0, {}},
    {kAll, ControlKind::kPushRadio, "All Channels", 147, 354, 29, 10, kChecked, {}},
    {kPreviousFrame,
     ControlKind::kPictureButton,
     "Previous Frame",
     192,
     344,
     24,
     20,
     kDisabled,
     {}},
    {kReverse, ControlKind::kPictureButton, "Reverse", 216, 344, 24, 20, kDisabled, {}},
    {kPause, ControlKind::kPictureButton, "Pause", 240, 344, 24, 20, kDisabled, {}},
    {kPlay, ControlKind::kPictureButton, "Play", 264, 344, 24, 20, kDisabled, {}},
    {kNextFrame, ControlKind::kPictureButton, "Next Frame", 288, 344, 24, 20, kDisabled, {}},
    {kStop, ControlKind::kPictureButton, "Stop", 312, 344, 24, 20, kDisabled, {}},
    {kNetwork, ControlKind::kCheckBox, "Network version", 267, 329, 67, 14, 0, {}},
    {kSpeed, ControlKind::kPictureButton, "Speed", 336, 328, 32, 36, kDisabled, {}},
    {kTime, ControlKind::kSunkenText, "TIME", 369, 330, 79, 9, 0, {}},
    {kSearch, ControlKind::kPictureButton, "Search", 368, 344, 24, 20, kDisabled, {}},
    {kHdd, ControlKind::kPictureButton, "Open Hard Disk", 392, 344, 24, 20, 0, {}},
    {kCapture, ControlKind::kPictureButton, "Capture", 416, 344, 24, 20, kDisabled, {}},
    {kAvi, ControlKind::kPictureButton, "Save as AVI", 440, 344, 24, 20, kDisabled, {}},
};

}  // namespace

std::span<const ui::ControlEntry> MainWindowControls() {
  return kControls;
}

}  // namespace rd::player
