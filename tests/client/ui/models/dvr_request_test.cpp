// Each request reaches its operation of the sink with its value.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/ui/models/DvrRequest.h"

namespace rd::ui {
namespace {

using K = DvrRequestKind;

class RecordingSink : public DvrRequestSink {
 public:
  bool IsConnected() const override { return true; }
  void SetVideoQuality(uint8_t v) override { Add("quality", v); }
  void SetRecordFrameRate(uint8_t v) override { Add("rate", v); }
  void SetAlarmOnDuration(uint8_t s) override { Add("alarm-on", s); }
  void SetAlarmRecordDuration(uint8_t s) override { Add("alarm-record", s); }
  void SetInputChannels(uint8_t m) override { Add("input", m); }
  void SetRecordChannels(uint8_t m) override { Add("record", m); }
  void SetChannelFilter(const ChannelDisplayState& w) override {
    Add("filter", w.quad * 10000 + w.channel[0] * 1000 + w.channel[1] * 100 + w.channel[2] * 10 +
                      w.channel[3]);
  }
  void SetTime(const DvrTime& t) override { Add("time", t.year * 100 + t.second); }
  void SetSchedule(const uint8_t hours[24]) override { Add("schedule", hours[0] * 10 + hours[23]); }
  void SetAudioRecording(bool on) override { Add("audio", on); }
  void SetSpeakerMute(bool on) override { Add("mute", on); }
  void PlayDvrFrom(uint8_t disk, const DvrTime& t) override {
    Add("play-from", disk * 1000 + t.minute);
  }
  void PlayDvrEvent(uint8_t disk, uint32_t id) override { Add("play-event", disk * 1000 + id); }

  std::vector<std::string> calls;

 private:
  void Add(const char* name, uint32_t value) {
    calls.push_back(std::string(name) + "=" + std::to_string(value));
  }
};

TEST(DvrRequest, ApplyCallsTheMatchingOperation) {
  std::array<uint8_t, 24> hours{};
  hours[0] = 2;
  hours[23] = 1;
  ChannelDisplayState wanted;
  wanted.channel[1] = 1;
  wanted.channel[3] = 1;
  const DvrTime t{7, 42, 0, 1, 1, 24};
  const std::vector<std::pair<DvrRequest, std::string>> cases = {
      {DvrRequest::Value(K::kVideoQuality, 2), "quality=2"},
      {DvrRequest::Value(K::kRecordFrameRate, 5), "rate=5"},
      {DvrRequest::Value(K::kAlarmOnDuration, 35), "alarm-on=35"},
      {DvrRequest::Value(K::kAlarmRecordDuration, 30), "alarm-record=30"},
      {DvrRequest::Value(K::kInputChannels, 0x0E), "input=14"},
      {DvrRequest::Value(K::kRecordChannels, 0), "record=0"},
      {DvrRequest::ChannelFilter(wanted), "filter=101"},
      {DvrRequest::Time(t), "time=2407"},
      {DvrRequest::Schedule(hours), "schedule=21"},
      {DvrRequest::Value(K::kAudioRecording, 1), "audio=1"},
      {DvrRequest::Value(K::kSpeakerMute, 0), "mute=0"},
      {DvrRequest::PlayFrom(1, t), "play-from=1042"},
      {DvrRequest::PlayEvent(0, 77), "play-event=77"},
  };
  for (const auto& [request, call] : cases) {
    RecordingSink sink;
    Apply(request, sink);
    EXPECT_EQ(sink.calls, std::vector<std::string>{call}) << Describe(request);
  }
}

TEST(DvrRequest, DescribeNamesTheOperationAndValues) {
  EXPECT_EQ(Describe(DvrRequest::Value(K::kVideoQuality, 2)), "SetVideoQuality(2)");
  EXPECT_EQ(Describe(DvrRequest::PlayFrom(1, {7, 42, 3, 9, 12, 24})),
            "PlayDvrFrom(1, 2024/12/09 03:42:07)");
}

}  // namespace
}  // namespace rd::ui
