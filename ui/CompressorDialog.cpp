#include "ui/CompressorDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QVBoxLayout>

namespace rd::ui {

CompressorDialog::CompressorDialog(QWidget* parent, const std::vector<VideoCompressor>& compressors,
                                   int width, int height)
    : QDialog(parent), compressors_(compressors) {
  setWindowTitle(QStringLiteral("Video Compression"));
  setObjectName(QStringLiteral("compressor"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      new QLabel(QStringLiteral("Compressor for %1 x %2 pictures:").arg(width).arg(height), this));
  list_ = new QListWidget(this);
  list_->setAccessibleName(QStringLiteral("Compressor"));
  for (const VideoCompressor& c : compressors_) {
    QString line = QString::fromStdString(
        c.name == kUncompressedCompressor ? "Full Frames (Uncompressed)" : c.description);
    if (line.isEmpty()) line = QString::fromStdString(c.name);
    list_->addItem(line);
  }
  if (list_->count() > 0) list_->setCurrentRow(0);
  layout->addWidget(list_);
  auto* form = new QFormLayout;
  key_frames_ = new QSpinBox(this);
  key_frames_->setRange(0, 3000);
  key_frames_->setSpecialValueText(QStringLiteral("encoder default"));
  key_frames_->setSuffix(QStringLiteral(" frames"));
  key_frames_->setAccessibleName(QStringLiteral("Key frame every"));
  form->addRow(QStringLiteral("Key frame every"), key_frames_);
  data_rate_ = new QSpinBox(this);
  data_rate_->setRange(0, 100000);
  data_rate_->setSpecialValueText(QStringLiteral("constant quality"));
  data_rate_->setSuffix(QStringLiteral(" kbit/s"));
  data_rate_->setAccessibleName(QStringLiteral("Data rate"));
  form->addRow(QStringLiteral("Data rate"), data_rate_);
  layout->addLayout(form);
  auto update_enabled = [this] {
    const int row = list_->currentRow();
    const bool compressed =
        row > 0 || (row == 0 && compressors_[0].name != kUncompressedCompressor);
    key_frames_->setEnabled(compressed);
    data_rate_->setEnabled(compressed &&
                           !(row >= 0 && compressors_[static_cast<std::size_t>(row)].lossless));
  };
  connect(list_, &QListWidget::currentRowChanged, this, update_enabled);
  update_enabled();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

CompressorOptions CompressorDialog::Options() const {
  CompressorOptions o;
  const int row = list_->currentRow();
  if (row >= 0 && row < static_cast<int>(compressors_.size()))
    o.compressor = compressors_[static_cast<std::size_t>(row)].name;
  o.keyframe_interval = key_frames_->isEnabled() ? key_frames_->value() : 0;
  o.bit_rate = data_rate_->isEnabled() ? static_cast<int64_t>(data_rate_->value()) * 1000 : 0;
  return o;
}

bool DialogCompressorChooser::Choose(const std::vector<VideoCompressor>& compressors, int width,
                                     int height, CompressorOptions* options) {
  CompressorDialog dialog(parent_, compressors, width, height);
  if (dialog.exec() != QDialog::Accepted) return false;
  *options = dialog.Options();
  return true;
}

}  // namespace rd::ui
