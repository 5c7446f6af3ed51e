// The player's options: sound effect and its volume, equaliser, screen
// colours, text size and alignment, chords, the player's language and its
// automatic switch-off, each a byte of the setup record. Bytes the dialog
// does not show keep the values read.
#pragma once

#include <QDialog>
#include <vector>

#include "context/env.h"
#include "shell/setup_record.h"

class QComboBox;
class QSlider;
class QLabel;

namespace kestro::gui {

class OptionsDialog : public QDialog {
  Q_OBJECT

 public:
  // One control of the dialog: the record byte it shows, its label and, for
  // a list, the base key of its items ("%s_%i") and their count.
  struct Control {
    int byte;
    const char* labelKey;
    // The text of item i ("BASE_i"); null: the slider.
    std::string (*item)(const Dictionary& dict, int i);
    int items;
  };
  static const std::vector<Control>& Controls();

  OptionsDialog(Env& env, const SetupRecord& record, QWidget* parent = nullptr);

  // The record with the controls' values in their bytes. A list that shows
  // nothing (the player holds a value the dialog has no item for) keeps
  // the byte it read.
  SetupRecord Record() const;
  // The list of byte `byte`, or null (the slider's byte, or unknown).
  QComboBox* ListFor(int byte) const;
  QSlider* Slider() const { return slider_; }

 private:
  SetupRecord record_;
  std::vector<QComboBox*> lists_;  // by control, null for the slider
  QSlider* slider_ = nullptr;
  QLabel* sliderValue_ = nullptr;
};

}  // namespace kestro::gui
