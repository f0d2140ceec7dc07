#pragma once
// One IPv4 TCP client socket with its own socket thread. The socket thread
// performs the connect when asked to and afterwards watches the socket for
// incoming data; what it learns arrives through three virtual callbacks, all
// run on that thread. A derived class may also run a sender thread (the
// control session drains its send ring there).
//
// Lifecycle: Create() -> SetRemote(ip, port) -> OnConnect(0 | errno) ->
// OnReceive(0) whenever the socket is readable -> Close(). Nothing reconnects
// by itself; a new connection uses a new object.
//
// Threads are never killed: Close() and StopSender() wake them (an eventfd,
// socket shutdown, bounded waits) and join them. No callback runs after
// Close() returns. A derived class that overrides the callbacks must call
// Close() (or its own Stop) in its destructor, before its members go away.

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "client/engine/net/EngineResult.h"

namespace rd {

class EngineSocket {
 public:
  // How long StopSender waits for the sender loop to leave by itself before
  // it shuts the socket down to wake a blocked Send.
  static constexpr int kSenderStopWaitMs = 950;

  EngineSocket();
  virtual ~EngineSocket();
  EngineSocket(const EngineSocket&) = delete;
  EngineSocket& operator=(const EngineSocket&) = delete;

  // Creates the socket and starts the socket thread. kSocketAlreadyCreated;
  // a socket() failure returns its errno; kThreadCreateFailed.
  EngineResult Create();
  // Stores the dotted IPv4 address and port and asks the socket thread to
  // connect. kSocketNotCreated before Create; kThreadNotRunning. An
  // address that does not parse is reported as OnConnect(EINVAL).
  EngineResult SetRemote(const char* ip, uint16_t port);
  // Writes one whole message (partial writes are continued). Calls on one
  // socket are serialised, so messages never interleave. kNotConnected; errno
  // on failure; kShortSend when the written count differs from `length`.
  EngineResult Send(const uint8_t* data, std::size_t length);
  // One read of at most `size` bytes. *length = bytes read, 0 when the peer has
  // closed, -1 on failure (the errno is returned). kNotConnected.
  EngineResult Receive(int* length, uint8_t* buffer, std::size_t size);
  // Stops the socket thread, then closes the socket. kSocketNotCreated.
  EngineResult Close();

  bool IsCreated() const { return created_.load(); }
  bool IsConnected() const { return connected_.load(); }
  // Bytes written but not yet acknowledged by the peer; -1 when unknown
  // (no socket).
  int UnacknowledgedBytes() const;

 protected:
  // Callbacks, all on the socket thread. Empty here.
  virtual void OnConnect(int error);
  virtual void OnClose(int error);
  virtual void OnReceive(int error);

  // For readers: a read of zero bytes means the peer closed. Clears
  // `connected` (the thread stops watching the socket) and returns true the
  // first time only, so OnClose / the close report is raised exactly once.
  // Returns false while the socket is being closed by its owner.
  bool MarkPeerClosed();
  // True once Close() (or StopSender's wake-up) has begun: callbacks in
  // progress should not report the resulting errors.
  bool IsClosing() const { return stop_.load(); }

  // Sender thread hooks. StartSender: kSenderAlreadyRunning,
  // kSenderCreateFailed. StopSender: kSenderNotRunning; otherwise clears the run flag,
  // waits up to kSenderStopWaitMs in 1 ms steps for the loop to leave, then (if it has not)
  // shuts the socket down so a blocked Send returns, and joins the thread.
  EngineResult StartSender();
  EngineResult StopSender();
  bool SenderRunning() const { return sender_started_.load(); }
  // Loop condition for RunSender().
  bool SenderShouldRun() const { return sender_run_.load(); }
  // The sender thread's body; runs while SenderShouldRun(). Empty loop here.
  virtual void RunSender();
  // Called by StopSender once the run flag is clear, so a RunSender that
  // waits on its own condition wakes up and sees it.
  virtual void WakeSender() {}

 private:
  void SocketThread();
  void ConnectNow();
  void Wake();
  void CloseWakeFd();

  std::atomic<bool> connect_requested_{false};
  std::atomic<bool> connected_{false};
  std::atomic<bool> thread_running_{false};
  std::atomic<bool> created_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> peer_closed_reported_{false};
  std::atomic<int> fd_{-1};
  int wake_fd_ = -1;
  std::mutex remote_mutex_;  // guards remote_ / remote_valid_
  sockaddr_in remote_{};
  bool remote_valid_ = false;
  std::thread socket_thread_;
  std::mutex send_mutex_;   // one whole message at a time
  std::mutex close_mutex_;  // Close() against itself

  std::thread sender_;
  std::atomic<bool> sender_run_{false};
  std::atomic<bool> sender_started_{false};
  std::atomic<bool> sender_left_{false};
};

}  // namespace rd
