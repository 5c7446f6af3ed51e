// The program's own message box: up to eleven text lines, a picture for the
// style, up to three buttons labelled from the dictionary and an optional
// check box, placed as LayoutMessage computes them from the text and the
// style. The result is that of the button pressed (1 OK, 2 Cancel, 6 Yes,
// 7 No). The Escape key and the close box press the button that declines:
// Cancel when there is one, else No, else OK.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <functional>
#include <string>
#include <string_view>

#include "platform/ui.h"

class QCheckBox;
class QPushButton;

namespace kestro::gui {

class MessageDialog : public QDialog {
  Q_OBJECT

 public:
  // `text` gives the text of a message key ("MSG_OK", "MSG_YES", ...).
  MessageDialog(const MessageRequest& request, std::function<std::string(std::string_view)> text,
                QWidget* owner = nullptr);

  const MessageLayout& Geometry() const { return geometry_; }
  // 1, 2, 6 or 7 once a button was pressed; 3 before.
  int Result() const { return result_; }
  bool CheckState() const { return checkState_; }
  // Button 1 to 3; null when the style does not show it.
  QPushButton* Button(int n) const;
  // Null when the request has no check-box text.
  QCheckBox* CheckBox() const { return check_; }
  // The name of the picture shown ("261" to "264").
  QString PictureName() const { return pictureName_; }
  // The button that Escape and the close box press.
  int DecliningButton() const;

  static QString PictureFor(uint32_t style);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void reject() override;

 private:
  void Press(int n);

  MessageRequest request_;
  std::function<std::string(std::string_view)> text_;
  MessageLayout geometry_;
  QPushButton* buttons_[3] = {nullptr, nullptr, nullptr};
  QCheckBox* check_ = nullptr;
  QString pictureName_;
  int result_ = 3;
  bool checkState_ = false;
};

}  // namespace kestro::gui
