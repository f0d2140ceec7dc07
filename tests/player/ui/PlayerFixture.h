#pragma once
// The player window tests' fixtures: disk images written by the emulated
// DVR's make-disk (made once per program), an image without a recording, a
// file that is no DVR disk, and scripted answers to the window's questions.

#include <gtest/gtest.h>

#include <QString>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "player/disk/DvrDisk.h"
#include "player/disk/RecordingIndex.h"
#include "player/ui/models/SelectHddModel.h"
#include "player/ui/rdplayerDlg.h"
#include "ui/FileChooser.h"

namespace rdtest {

// Images in a folder that lives for the test program.
struct PlayerImages {
  std::filesystem::path dir;
  std::string image;    // 20 s from 2024-05-01 12:00:00, four channels, audio, two events
  std::string second;   // another one (a second DVR disk)
  std::string no_data;  // the first with its data flag cleared
  std::string plain;    // zeros: no DVR disk
  uint64_t marker = 0;
};
const PlayerImages& Images();

inline constexpr rd::RecTime kImageStart{24, 5, 1, 12, 0, 0};

// Answers the save and open questions with the next path of a list ("" =
// cancel).
class ScriptedFiles : public rd::ui::FileChooser {
 public:
  QString SaveFileName(QWidget*, const QString& filter, const QString&,
                       const QString& preset) override {
    filters.push_back(filter);
    presets.push_back(preset);
    return Next();
  }
  QString OpenFileName(QWidget*, const QString& filter, const QString&, const QString&) override {
    filters.push_back(filter);
    return Next();
  }
  QString Next() {
    if (answers.empty()) return {};
    QString a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  std::vector<QString> answers, filters, presets;
};

// The disk flows' dialogs, answered by the test: the scan runs at once (and
// is counted), the disk line and the time come from the script.
class ScriptedDialogs : public rd::player::PlayerDialogs {
 public:
  void Wait(QWidget*, const std::function<void()>& work) override {
    ++waits;
    work();
  }
  std::optional<int> SelectHdd(QWidget*, const rd::DiskTable& table) override {
    lines = rd::player::HddLines(table);
    ++selects;
    if (!select_row) return std::nullopt;
    return rd::player::ChosenDrive(lines, *select_row);
  }
  std::optional<rd::RecTime> SearchTime(
      QWidget*, const std::optional<rd::RecordingSpan>& span,
      const rd::player::SearchTimeDialog::EventSource& ev) override {
    ++searches;
    last_span = span;
    if (ev) events = ev();
    return time;
  }
  int waits = 0, selects = 0, searches = 0;
  std::optional<int> select_row = -1;  // nothing: Esc
  std::optional<rd::RecTime> time;     // nothing: Cancel
  std::vector<rd::player::HddLine> lines;
  std::optional<rd::RecordingSpan> last_span;
  std::vector<rd::DiskEvent> events;
};

}  // namespace rdtest
