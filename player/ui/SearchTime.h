#pragma once
// SearchTimeDialog ("Search Time"): the six fields of the time to play from,
// the span of the recording, and its events ("Find Events", once). A line of
// the list fills the fields with that event's start time; OK checks each
// field, and a refused one keeps the dialog open with its prompt and the
// focus back on it.

#include <QDialog>

#include <functional>
#include <optional>
#include <vector>

#include "player/ui/models/SearchTimeModel.h"
#include "ui/ControlTable.h"

class QListWidget;

namespace rd::player {

class SearchTimeDialog : public QDialog {
 public:
  using EventSource = std::function<std::vector<DiskEvent>()>;
  SearchTimeDialog(QWidget* parent, const std::optional<RecordingSpan>& span, EventSource events);

  // The time of OK.
  std::optional<RecTime> time() const { return time_; }
  const ui::ControlSet& Controls() const { return controls_; }
  QLineEdit* Field(int i) const;
  QListWidget* List() const;
  const SearchTimeModel& model() const { return model_; }

  void accept() override;

 private:
  void FindEvents();
  void OnLineChosen(int row);
  void ShowFields();

  SearchTimeModel model_;
  EventSource events_;
  ui::ControlSet controls_;
  std::optional<RecTime> time_;
  bool filling_ = false;
};

}  // namespace rd::player
