#pragma once
// Test helpers for the control engine: a scripted DVR peer on a loopback
// socket, and an EngineEvents sink that records every callback.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/engine/rdcp/RdcpWire.h"
#include "client/events/EngineEvents.h"

namespace rdtest {

using namespace std::chrono_literals;

// One message as the peer received it.
struct PeerMsg {
  uint8_t type = 0;
  uint8_t param = 0;
  std::vector<uint8_t> payload;
  std::chrono::steady_clock::time_point at;
};

std::vector<uint8_t> Msg(uint8_t type, uint8_t param = 0, std::vector<uint8_t> payload = {});
std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts);

// A listening socket on 127.0.0.1 (ephemeral port) that accepts one client and
// talks to it as the test script says.
class ScriptedPeer {
 public:
  ScriptedPeer();
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  uint16_t port() const { return port_; }
  bool Accept(std::chrono::milliseconds timeout = 5s);
  // The next whole message from the client; nullopt on timeout or close.
  std::optional<PeerMsg> Next(std::chrono::milliseconds timeout = 5s);
  // The next message of `type`; messages of other types are skipped.
  std::optional<PeerMsg> NextOfType(uint8_t type, std::chrono::milliseconds timeout = 5s);
  // True when no message arrives within `window`.
  bool Quiet(std::chrono::milliseconds window);
  bool Write(const std::vector<uint8_t>& bytes);
  bool Reply(uint8_t type, uint8_t param = 0, std::vector<uint8_t> payload = {}) {
    return Write(Msg(type, param, std::move(payload)));
  }
  // True once the client has closed its side (a read returns 0). Messages that
  // arrive meanwhile are kept for Next.
  bool WaitClientClosed(std::chrono::milliseconds timeout = 5s);
  void CloseClient();
  void CloseListener();
  int client_fd() const { return client_; }

 private:
  int listener_ = -1;
  int client_ = -1;
  uint16_t port_ = 0;
  rd::rdcp::FrameReader reader_;
};

// Records every callback, thread-safely.
class RecordingSink : public rd::EngineEvents {
 public:
  struct Reply {
    int type;
    int error;
  };
  void OnCtrlConnect(int error) override;
  void OnCtrlClose(int error) override;
  void OnCtrlReceiveError(int error) override;
  void OnRdcpReply(int type, int error) override;
  void OnPollTimeout() override;
  void OnDvrInfoChanged() override;
  void OnDvrStatus(int) override;

  std::vector<int> connects() const;
  int closes() const;
  std::vector<int> receive_errors() const;
  std::vector<Reply> replies() const;
  int CountReply(int type) const;
  int poll_timeouts() const;
  int info_changed() const;
  int statuses() const;

 private:
  mutable std::mutex m_;
  std::vector<int> connects_;
  int closes_ = 0;
  std::vector<int> receive_errors_;
  std::vector<Reply> replies_;
  int poll_timeouts_ = 0;
  int info_changed_ = 0;
  int statuses_ = 0;
};

// One control session from connect to close: connect, open with `password`,
// read the settings, send the session close, stop. False on any failure.
// `why` names the step that failed; "refused" when the peer closed (or reset) the
// connection before accepting the open (a DVR busy with another client).
bool ConnectOpenCloseCycle(uint16_t port, const uint8_t password[6], std::string* why = nullptr);

// Open descriptors and threads of this process (for leak checks).
int CountOpenFds();
int CountThreads();

}  // namespace rdtest
