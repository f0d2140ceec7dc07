#pragma once
// Result of engine operations: 0 for success, one of the engine codes below,
// or a platform socket error code (an errno value) passed through unchanged.

namespace rd {

using EngineResult = int;

namespace engine {
inline constexpr EngineResult kOk = 0;
inline constexpr EngineResult kSocketAlreadyCreated = 2;
inline constexpr EngineResult kSocketNotCreated = 3;
inline constexpr EngineResult kThreadCreateFailed = 4;
inline constexpr EngineResult kThreadPriorityFailed = 5;
inline constexpr EngineResult kThreadAlreadyRunning = 7;
inline constexpr EngineResult kThreadNotRunning = 8;
inline constexpr EngineResult kNotConnected = 9;
inline constexpr EngineResult kShortSend = 10;
inline constexpr EngineResult kSessionAlreadyStarted = 34;
inline constexpr EngineResult kSessionNotStarted = 35;
inline constexpr EngineResult kSenderCreateFailed = 36;
inline constexpr EngineResult kSenderPriorityFailed = 37;
inline constexpr EngineResult kSenderAlreadyRunning = 39;
inline constexpr EngineResult kSenderNotRunning = 40;
inline constexpr EngineResult kNoSink = 41;
inline constexpr EngineResult kReceiverAlreadyStarted = 49;
inline constexpr EngineResult kReceiverNotStarted = 50;
}  // namespace engine

}  // namespace rd
