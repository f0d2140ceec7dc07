#pragma once
// Control and timer numbers of the player's windows.

namespace rd::player::ids {

// Main window, in dialog units.
inline constexpr int kWindowWidth = 471;
inline constexpr int kWindowHeight = 372;

inline constexpr int kPicture = 1000;
inline constexpr int kChannel[4] = {1001, 1002, 1003, 1004};
inline constexpr int kAll = 1005;
inline constexpr int kPreviousFrame = 1010;
inline constexpr int kReverse = 1011;
inline constexpr int kPause = 1012;
inline constexpr int kPlay = 1013;
inline constexpr int kNextFrame = 1014;
inline constexpr int kStop = 1015;
inline constexpr int kSpeed = 1016;
inline constexpr int kSearch = 1017;
inline constexpr int kHdd = 1018;
inline constexpr int kCapture = 1019;
inline constexpr int kAvi = 1020;
inline constexpr int kNetwork = 1021;
inline constexpr int kTime = 1022;
// Beyond the recorder's own player: the position over the recorded span,
// opening an image file, the events before and after, and the clip export.
inline constexpr int kPosition = 1030;
inline constexpr int kOpenImage = 1031;
inline constexpr int kPreviousEvent = 1032;
inline constexpr int kNextEvent = 1033;
inline constexpr int kMarkIn = 1034;
inline constexpr int kMarkOut = 1035;
inline constexpr int kExportClip = 1036;
inline constexpr int kMarks = 1037;

// Timers.
inline constexpr int kTimerAudio = 1;    // 500 ms: the engine's audio tick
inline constexpr int kTimerRepaint = 2;  // 33 ms: the engine's repaint tick
inline constexpr int kAudioTickMs = 500;
inline constexpr int kRepaintTickMs = 33;

// Search Time dialog.
inline constexpr int kSearchWidth = 207;
inline constexpr int kSearchHeight = 220;
inline constexpr int kSearchField[6] = {1040, 1041, 1042, 1043, 1044, 1045};
inline constexpr int kSearchStart = 1046;
inline constexpr int kSearchEnd = 1047;
inline constexpr int kSearchEvents = 1048;
inline constexpr int kFindEvents = 1049;
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;

// Select HDD dialog.
inline constexpr int kSelectWidth = 86;
inline constexpr int kSelectHeight = 112;
inline constexpr int kSelectList = 1050;

// Wait dialog.
inline constexpr int kWaitWidth = 187;
inline constexpr int kWaitHeight = 33;
inline constexpr int kWaitPicture = 1060;
inline constexpr int kWaitStepMs = 500;

}  // namespace rd::player::ids
