#pragma once
// Message boxes: every text the user must see as a box (caption, text, icon)
// goes through ShowMessage. The windows install a sink that shows a real box;
// without one the message goes to stderr. Tests install a capturing sink to
// see exactly what would have been shown.

#include <mutex>
#include <string>
#include <vector>

namespace rd {

enum class MessageIcon { kNone, kStop, kExclamation, kInformation, kQuestion };

struct Message {
  std::string caption;  // empty: the application's title
  std::string text;
  MessageIcon icon = MessageIcon::kNone;
};

class MessageBoxSink {
 public:
  virtual ~MessageBoxSink() = default;
  // May be called on any thread; a windowed sink moves the box to its UI thread.
  virtual void Show(const Message& message) = 0;
};

// "stop", "exclamation", "information", "question", or "none".
const char* IconName(MessageIcon icon);

// Installs the process-wide sink (nullptr: the stderr default). Returns the previous one.
MessageBoxSink* SetMessageBoxSink(MessageBoxSink* sink);

void ShowMessage(const std::string& caption, const std::string& text,
                 MessageIcon icon = MessageIcon::kNone);

// Collects the messages shown while it lives (tests).
class ScopedMessageCapture : public MessageBoxSink {
 public:
  ScopedMessageCapture();
  ~ScopedMessageCapture() override;
  ScopedMessageCapture(const ScopedMessageCapture&) = delete;
  ScopedMessageCapture& operator=(const ScopedMessageCapture&) = delete;

  void Show(const Message& message) override;
  std::vector<Message> Messages() const;

 private:
  MessageBoxSink* previous_;
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
};

}  // namespace rd
