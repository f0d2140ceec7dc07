#pragma once
// The player's pictures, drawn at start (no image files): the transport and
// command buttons, one Speed picture per speed, the AVI button idle and
// recording, the channel buttons and the four steps of the wait animation.

#include <QImage>
#include <QSize>
#include <QString>

namespace rd::player {

// The picture of button `id` (rdplayerIds.h) at `size` pixels; null for an
// id without one.
QImage ButtonPicture(int id, QSize size);
// The Speed button at speed `caption` (">> 1X" .. ">> 64X").
QImage SpeedPicture(const QString& caption, QSize size);
// The AVI button: idle, or recording.
QImage AviPicture(bool recording, QSize size);
// Step 0..3 of the wait animation, 15 x 15 pixels.
QImage WaitPicture(int step);
inline constexpr int kWaitPictureSize = 15;

}  // namespace rd::player
