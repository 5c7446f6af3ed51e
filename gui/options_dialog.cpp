#include "gui/options_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "gui/look.h"

namespace kestro::gui {

namespace {

constexpr int kEffectVolumeMax = 9;

}  // namespace

const std::vector<OptionsDialog::Control>& OptionsDialog::Controls() {
  using D = const Dictionary&;
  static const std::vector<Control> controls = {
      {3, "MSG_OPTIONS_GENERAL_CHORDMODE", [](D d, int i) { return d.GetNumberedText("MSG_CHORDMODE", i); }, 2},
      {12, "MSG_OPTIONS_GENERAL_LANGUAGE", [](D d, int i) { return d.GetNumberedText("MSG_ZUMBLALANGUAGE", i); }, 5},
      {13, "MSG_OPTIONS_GENERAL_AUTOOFF", [](D d, int i) { return d.GetNumberedText("MSG_AUTOOFF", i); }, 2},
      {4, "MSG_OPTIONS_VIDEO_COLORSETUP", [](D d, int i) { return d.GetNumberedText("MSG_COLORSETUP", i); }, 4},
      {5, "MSG_OPTIONS_VIDEO_TEXTSETUP", [](D d, int i) { return d.GetNumberedText("MSG_VIDEOMODE", i); }, 2},
      {11, "MSG_OPTIONS_VIDEO_TEXTALIGN", [](D d, int i) { return d.GetNumberedText("MSG_TEXTALIGN", i); }, 2},
      {10, "MSG_OPTIONS_AUDIO_EQUALIZATION", [](D d, int i) { return d.GetNumberedText("MSG_FXEQU", i); }, 5},
      {15, "MSG_OPTIONS_AUDIO_EFFECTTYPE", [](D d, int i) { return d.GetNumberedText("MSG_FXECHO", i); }, 3},
      {14, "MSG_OPTIONS_AUDIO_EFFECTVOL", nullptr, 0},
  };
  return controls;
}

OptionsDialog::OptionsDialog(Env& env, const SetupRecord& record, QWidget* parent)
    : QDialog(parent), record_(record) {
  setObjectName(QStringLiteral("OptionsDlg"));
  setWindowTitle(FromLatin1(env.T("MSG_OPTIONS_CAPTION")));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
  for (const Control& c : Controls()) {
    QString label = FromLatin1(env.T(c.labelKey));
    const int value = record_[static_cast<size_t>(c.byte)];
    if (!c.item) {
      slider_ = new QSlider(Qt::Horizontal, this);
      slider_->setRange(0, kEffectVolumeMax);
      slider_->setPageStep(1);
      slider_->setTickPosition(QSlider::TicksBelow);
      slider_->setTickInterval(1);
      slider_->setValue(std::min(value, kEffectVolumeMax));
      sliderValue_ = new QLabel(QString::number(slider_->value()), this);
      sliderValue_->setMinimumWidth(sliderValue_->fontMetrics().horizontalAdvance(QStringLiteral("00")));
      connect(slider_, &QSlider::valueChanged, sliderValue_, [this](int v) { sliderValue_->setNum(v); });
      auto* row = new QHBoxLayout;
      row->addWidget(slider_, 1);
      row->addWidget(sliderValue_);
      form->addRow(label, row);
      lists_.push_back(nullptr);
      continue;
    }
    auto* list = new QComboBox(this);
    for (int i = 0; i < c.items; ++i) list->addItem(FromLatin1(c.item(env.dict, i)));
    list->setCurrentIndex(value < c.items ? value : -1);
    form->addRow(label, list);
    lists_.push_back(list);
  }
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(FromLatin1(env.T("MSG_OK")), QDialogButtonBox::AcceptRole);
  buttons->addButton(FromLatin1(env.T("MSG_CANCEL")), QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  setMinimumWidth(440);
}

SetupRecord OptionsDialog::Record() const {
  SetupRecord out = record_;
  const auto& controls = Controls();
  for (size_t i = 0; i < controls.size(); ++i) {
    const size_t byte = static_cast<size_t>(controls[i].byte);
    if (lists_[i]) {
      if (lists_[i]->currentIndex() >= 0) out[byte] = static_cast<uint8_t>(lists_[i]->currentIndex());
    } else {
      // A value past the slider's end stays as the player had it, unless moved.
      if (slider_->value() != std::min<int>(record_[byte], kEffectVolumeMax)) out[byte] = static_cast<uint8_t>(slider_->value());
    }
  }
  return out;
}

QComboBox* OptionsDialog::ListFor(int byte) const {
  const auto& controls = Controls();
  for (size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].byte == byte) return lists_[i];
  }
  return nullptr;
}

}  // namespace kestro::gui

