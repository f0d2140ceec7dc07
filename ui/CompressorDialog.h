#pragma once
// The compressor choice of an AVI export: the encoders usable in AVI files
// (uncompressed first), the key-frame interval and the data rate.

#include <QDialog>

#include <vector>

#include "shared/avi/AviWriter.h"

class QListWidget;
class QSpinBox;

namespace rd::ui {

class CompressorDialog : public QDialog {
 public:
  CompressorDialog(QWidget* parent, const std::vector<VideoCompressor>& compressors, int width,
                   int height);
  CompressorOptions Options() const;
  QListWidget* List() const { return list_; }
  QSpinBox* KeyFrames() const { return key_frames_; }
  QSpinBox* DataRate() const { return data_rate_; }

 private:
  std::vector<VideoCompressor> compressors_;
  QListWidget* list_ = nullptr;
  QSpinBox* key_frames_ = nullptr;
  QSpinBox* data_rate_ = nullptr;
};

// Asks with a CompressorDialog over `parent`.
class DialogCompressorChooser : public CompressorChooser {
 public:
  explicit DialogCompressorChooser(QWidget* parent) : parent_(parent) {}
  bool Choose(const std::vector<VideoCompressor>& compressors, int width, int height,
              CompressorOptions* options) override;

 private:
  QWidget* parent_;
};

}  // namespace rd::ui
