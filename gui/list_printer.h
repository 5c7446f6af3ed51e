// The printed song list on a Qt paint device: the layout shared with the
// command-line tool's PDF (library/print_layout.h) drawn with a QPainter,
// on a printer or into a PDF file through the print dialog.
#pragma once

#include "library/print_layout.h"

class QPainter;
class QPagedPaintDevice;

namespace kestro::gui {

class QtPagePainter final : public library::PagePainter {
 public:
  // `painter` is active on `device`.
  QtPagePainter(QPagedPaintDevice& device, QPainter& painter);

  int Width() const override;
  int Height() const override;
  void SetFont(int height, int averageWidth) override;
  int TextHeight() const override;
  int TextWidth(std::string_view latin1) const override;
  void Text(int x, int top, std::string_view latin1) override;
  void Line(int x0, int y0, int x1, int y1) override;
  void FillGrey(int x0, int y0, int x1, int y1) override;
  bool NewPage() override;

 private:
  QPagedPaintDevice& device_;
  QPainter& painter_;
};

// Prints the job on `device` (a QPrinter, a QPdfWriter); the number of
// pages, 0 when the device could not be painted on.
int PrintListOn(QPagedPaintDevice& device, const library::PrintJob& job);

}  // namespace kestro::gui
