#include "platform/MessageBox.h"

#include <atomic>
#include <cstdio>

namespace rd {
namespace {

std::atomic<MessageBoxSink*> g_sink{nullptr};

}  // namespace

const char* IconName(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kStop:
      return "stop";
    case MessageIcon::kExclamation:
      return "exclamation";
    case MessageIcon::kInformation:
      return "information";
    case MessageIcon::kQuestion:
      return "question";
    case MessageIcon::kNone:
      break;
  }
  return "none";
}

MessageBoxSink* SetMessageBoxSink(MessageBoxSink* sink) {
  return g_sink.exchange(sink);
}

void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) {
  const Message message{caption, text, icon};
  if (MessageBoxSink* sink = g_sink.load()) {
    sink->Show(message);
    return;
  }
  std::fprintf(stderr, "[%s%s%s] %s\n", caption.c_str(), icon == MessageIcon::kNone ? "" : " | ",
               icon == MessageIcon::kNone ? "" : IconName(icon), text.c_str());
}

ScopedMessageCapture::ScopedMessageCapture() : previous_(SetMessageBoxSink(this)) {}

ScopedMessageCapture::~ScopedMessageCapture() {
  SetMessageBoxSink(previous_);
}

void ScopedMessageCapture::Show(const Message& message) {
  std::lock_guard lock(mutex_);
  messages_.push_back(message);
}

std::vector<Message> ScopedMessageCapture::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

}  // namespace rd
