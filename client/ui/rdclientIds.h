#pragma once
// Control, menu and timer numbers of the main window.

namespace rd::client::ids {

// Window and layout, in dialog units.
inline constexpr int kWindowWidth = 592;
inline constexpr int kWindowHeight = 342;
inline constexpr int kRightColumnX = 440;  // the panels start here

// Video area and Connection panel.
inline constexpr int kVideo = 1003;
inline constexpr int kBannerConnected = 1274;
inline constexpr int kBannerNotConnected = 1276;
inline constexpr int kStatus = 1269;
inline constexpr int kDvrIpLabel = 1299;
inline constexpr int kDvrIp = 1009;
inline constexpr int kSpeedLabel = 1301;
inline constexpr int kSpeed = 1015;
inline constexpr int kConnect = 1016;
inline constexpr int kCloseWindow = 2;

// DVR Management panel.
inline constexpr int kBannerNoInfo = 1275;
inline constexpr int kBannerView = 1277;
inline constexpr int kBannerRec = 1278, kBannerRecBold = 1279;
inline constexpr int kBannerPlay = 1280, kBannerPlayBold = 1281;
inline constexpr int kBannerFf = 1282, kBannerFfBold = 1283;
inline constexpr int kBannerRew = 1284, kBannerRewBold = 1289;
inline constexpr int kBannerPause = 1286, kBannerPauseBold = 1287;
inline constexpr int kBannerSensor = 1290, kBannerSensorBold = 1291;
inline constexpr int kBannerAlarm = 1292, kBannerAlarmBold = 1296;
inline constexpr int kBannerNotScheduled = 1297, kBannerNotScheduledBold = 1304;
inline constexpr int kDvrBanners[] = {
    kBannerNoInfo,    kBannerView,         kBannerRec,
    kBannerRecBold,   kBannerPlay,         kBannerPlayBold,
    kBannerFf,        kBannerFfBold,       kBannerRew,
    kBannerRewBold,   kBannerPause,        kBannerPauseBold,
    kBannerSensor,    kBannerSensorBold,   kBannerAlarm,
    kBannerAlarmBold, kBannerNotScheduled, kBannerNotScheduledBold};
inline constexpr int kVideoModeLabel = 1303;
inline constexpr int kVideoMode = 1271;
inline constexpr int kFrameRateLabel = 1300;
inline constexpr int kFrameRate = 1270;
inline constexpr int kWideGroup = 1354;
inline constexpr int kNarrowGroup = 1355;
inline constexpr int kWideChannel[4] = {1252, 1253, 1254, 1255};
inline constexpr int kWideQuad = 1256;
inline constexpr int kNarrowChannel[4] = {1236, 1237, 1238, 1239};
inline constexpr int kNarrowQuad = 1240;
inline constexpr int kOnAirLamp[4] = {1241, 1243, 1244, 1245};
inline constexpr int kOnAirLampQuad = 1246;
inline constexpr int kOffLamp[4] = {1242, 1247, 1248, 1249};
inline constexpr int kOffLampQuad = 1250;
inline constexpr int kDarkDot[4] = {1251, 1293, 1295, 1306};
inline constexpr int kDarkDotQuad = 1308;
inline constexpr int kLitDot[4] = {1261, 1294, 1305, 1307};
inline constexpr int kLitDotQuad = 1309;
inline constexpr int kVolumeGroup = 1353;
inline constexpr int kVolumeText = 1345;
inline constexpr int kVolumeSlider = 1343;
inline constexpr int kMute = 1344;
inline constexpr int kDvrRecLampDark = 1285;
inline constexpr int kDvrRecLampLit = 1288;
inline constexpr int kDvrRec = 1177;
inline constexpr int kDvrStop = 1038;
inline constexpr int kDvrPlay = 1180;
inline constexpr int kDvrRew = 1037;
inline constexpr int kDvrPause = 1039;
inline constexpr int kDvrFf = 1036;
inline constexpr int kDvrButtons[] = {kDvrRec, kDvrStop, kDvrPlay, kDvrRew, kDvrPause, kDvrFf};
inline constexpr int kAutoAdjust = 1323;
inline constexpr int kFrameRateList = 1312;

// Capture and Play panel.
inline constexpr int kLocalNotActivated = 1298;
inline constexpr int kLocalRewind = 1302, kLocalRewindBold = 1310;
inline constexpr int kLocalRecording = 1311, kLocalRecordingBold = 1313;
inline constexpr int kLocalPlay = 1314, kLocalPlayBold = 1315;
inline constexpr int kLocalPause = 1316, kLocalPauseBold = 1317;
inline constexpr int kLocalForward = 1322, kLocalForwardBold = 1324;
inline constexpr int kLocalBanners[] = {kLocalNotActivated, kLocalRewind,        kLocalRewindBold,
                                        kLocalRecording,    kLocalRecordingBold, kLocalPlay,
                                        kLocalPlayBold,     kLocalPause,         kLocalPauseBold,
                                        kLocalForward,      kLocalForwardBold};
inline constexpr int kLocalRecLampDark = 1321;
inline constexpr int kLocalRecLampLit = 1320;
inline constexpr int kLocalPlayLampDark = 1319;
inline constexpr int kLocalPlayLampLit = 1318;
inline constexpr int kLocalRec = 1022;
inline constexpr int kLocalStop = 1035;
inline constexpr int kLocalPlayButton = 1023;
inline constexpr int kLocalRew = 1040;
inline constexpr int kLocalPauseButton = 1041;
inline constexpr int kLocalFf = 1025;

// Menu commands.
inline constexpr int kMenuDvrManagement = 32789;
inline constexpr int kMenuStatistics = 32790;
inline constexpr int kMenuColourSetup = 32791;
inline constexpr int kMenuSaveAvi = 32792;
inline constexpr int kMenuCapture = 32793;

// Timers.
inline constexpr int kTimerConnect = 0;      // 30 s connect timeout
inline constexpr int kTimerSlowConnect = 1;  // 10 s: slow connect
inline constexpr int kTimerSecond = 3;       // engine tick, blink, watchdog
inline constexpr int kTimerRefresh = 4;      // 33 ms display refresh
inline constexpr int kTimerDvrStatus = 5;    // DVR status display
inline constexpr int kTimerLocalStatus = 16;
inline constexpr int kTimerVolume = 160;
inline constexpr int kVolumePollMs = 30;

}  // namespace rd::client::ids
