#include "library/print_layout.h"

#include <algorithm>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/charmap.h"
#include "platform/fileutil.h"
#include "platform/format.h"

namespace kestro::library {

PageGeometry FontFor(int width, int height) {
  PageGeometry g;
  g.width = width;
  g.height = height;
  if (width < height) {
    g.fontHeight = height / 80;
    g.fontWidth = width / 120;
  } else {
    g.fontHeight = height / 50;
    g.fontWidth = width / 175;
  }
  return g;
}

PageGeometry PageGeometryFor(int width, int height, int textHeight) {
  PageGeometry g = FontFor(width, height);
  g.lineHeight = textHeight + 5;
  g.linesPerPage = (height - height / 10) / g.lineHeight;
  g.x0 = width * 3 / 100;
  g.x1 = width - width * 3 / 100;
  g.y0 = height / 100;
  g.footerBase = height - height / 100;
  g.tableTop = height * 5 / 100;
  g.middle = width / 2;
  return g;
}

int PageCount(const PageGeometry& g, size_t rows) {
  // A page too small for one song still prints one a page.
  size_t perPage = static_cast<size_t>(std::max(g.linesPerPage - 1, 1));
  size_t pages = rows / perPage + (rows % perPage ? 1 : 0);
  return static_cast<int>(std::max<size_t>(pages, 1));
}

int PrintPages(PagePainter& p, const PrintJob& job) {
  PageGeometry g = FontFor(p.Width(), p.Height());
  p.SetFont(g.fontHeight, g.fontWidth);
  const int th = p.TextHeight();
  g = PageGeometryFor(p.Width(), p.Height(), th);
  const int pages = PageCount(g, job.rows.size());
  const int perPage = std::max(g.linesPerPage - 1, 1);
  size_t next = 0;
  for (int n = 1; n <= pages; ++n) {
    if (n > 1 && !p.NewPage()) return 0;
    // Header: the program, the page title centred, the date at the right.
    p.Text(g.x0, g.y0, "Kestro");
    p.Text(g.middle - p.TextWidth(job.pageTitle) / 2, g.y0, job.pageTitle);
    p.Text(g.x1 - 1 - p.TextWidth(job.date), g.y0, job.date);
    // Footer: the maker, "page n of p" centred.
    const int footerTop = g.footerBase - th;
    p.Text(g.x0, footerTop, job.footer);
    std::string pageText = Fmt(job.pageOfFormat, n, pages);
    p.Text(g.middle - p.TextWidth(pageText) / 2, footerTop, pageText);
    // The headings on a grey band under a line across the page.
    p.FillGrey(g.x0, g.tableTop + 1, g.x1 - 1, g.tableTop + th + 4);
    p.Line(g.x0, g.tableTop, g.width, g.tableTop);
    p.Text(g.x0 + 10, g.tableTop + 2, job.headings[0]);
    p.Text(g.middle + 10, g.tableTop + 2, job.headings[1]);
    int lastLine = 0;
    p.Line(g.x0, g.lineHeight + g.tableTop, g.x1, g.lineHeight + g.tableTop);
    for (int line = 1; line <= perPage && next < job.rows.size(); ++line, ++next) {
      const int y = line * g.lineHeight + g.tableTop + 2;
      p.Text(g.x0 + 10, y, job.rows[next].title);
      p.Text(g.middle + 10, y, job.rows[next].performer);
      p.Line(g.x0, (line + 1) * g.lineHeight + g.tableTop, g.x1, (line + 1) * g.lineHeight + g.tableTop);
      lastLine = line;
    }
    const int bottom = (lastLine + 1) * g.lineHeight + g.tableTop;
    for (int x : {g.x0, g.middle, g.x1}) p.Line(x, g.tableTop, x, bottom);
  }
  return pages;
}

std::string TodayText() {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900);
  return buf;
}

std::optional<ListPrint> PrepareListPrint(Env& env, const SongList& list, bool pcList, int medium,
                                          bool selectionOnly) {
  ListPrint out;
  PrintJob& job = out.job;
  for (const SongRecord& r : list) {
    if (selectionOnly && !r.selected) continue;
    job.rows.push_back({PlayerTextToLatin1(r.title), PlayerTextToLatin1(r.author)});
  }
  if (selectionOnly && job.rows.empty()) {
    env.ui.ShowMessage(env.T("MSG_NO_SONG_SELECTED"), env.T("MSG_CAPTION_WARNING"), mb::kIconExclamation);
    return std::nullopt;
  }
  const bool ram = medium == 2;
  job.pageTitle = env.T(pcList ? "MSG_PRINT_PAGETITLE_HD" : ram ? "MSG_PRINT_PAGETITLE_ZUM" : "MSG_PRINT_PAGETITLE_CARD");
  out.documentName =
      env.T(pcList ? "MSG_PRINT_FILENAME_HD" : ram ? "MSG_PRINT_FILENAME_ZUM" : "MSG_PRINT_FILENAME_CARD");
  job.date = TodayText();
  job.headings[0] = env.dict.GetNumberedText("MSG_COLUMN_TITLE", 0);
  job.headings[1] = env.dict.GetNumberedText("MSG_COLUMN_TITLE", 1);
  job.footer = "Zumbla - " + env.GetText(settings::kServerPath);
  job.pageOfFormat = env.T("MSG_PAGE_X_OF_Y");
  return out;
}

// --- PDF ---

namespace {

// PDF syntax of our own making, never a dictionary text.
__attribute__((format(printf, 1, 2))) std::string Pf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char buf[512];
  int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n < 0) return {};
  return std::string(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
}

}  // namespace


namespace {

// Advance widths of Times-Roman in thousandths of the font size, for the
// printable ASCII characters (the core font metrics every PDF reader has).
constexpr int kTimesAscii[95] = {
    250, 333, 408, 500, 500, 833, 778, 333, 333, 333, 500, 564, 250, 333, 250, 278,  // space to /
    500, 500, 500, 500, 500, 500, 500, 500, 500, 500,                                // 0-9
    278, 278, 564, 564, 564, 444, 921,                                               // : to @
    722, 667, 667, 722, 611, 556, 722, 722, 333, 389, 722, 611, 889, 722, 722, 556,  // A-P
    722, 667, 556, 611, 722, 722, 944, 722, 722, 611,                                // Q-Z
    333, 278, 333, 469, 500, 333,                                                    // [ to `
    444, 500, 444, 500, 444, 333, 500, 500, 278, 278, 500, 278, 778, 500, 500, 500,  // a-p
    500, 333, 389, 278, 500, 500, 722, 500, 500, 444,                                // q-z
    480, 200, 480, 541};                                                             // { to ~

// Latin-1 letters with marks measure as their base letter.
char BaseLetter(unsigned char c) {
  static const char* const kUpper = "AAAAAAACEEEEIIIIDNOOOOOxOUUUUYPs";  // 0xC0-0xDF
  static const char* const kLower = "aaaaaaaceeeeiiiidnooooo/ouuuuypy";  // 0xE0-0xFF
  if (c >= 0xC0 && c <= 0xDF) return kUpper[c - 0xC0];
  if (c >= 0xE0) return kLower[c - 0xE0];
  return 'o';
}

int TimesWidth(unsigned char c) {
  if (c >= 32 && c < 127) return kTimesAscii[c - 32];
  if (c >= 0xC0) {
    if (c == 0xC6) return 889;  // AE
    if (c == 0xE6) return 667;  // ae
    return kTimesAscii[static_cast<unsigned char>(BaseLetter(c)) - 32];
  }
  return 500;
}

// Times-Roman's line: ascender 0.683 above the baseline for capitals, the
// whole cell about 1.107 of the size as a Windows font measures it.
constexpr double kCellPerSize = 1.107;
constexpr double kAscentPerSize = 0.891;

// A4 in dots of a 300 dpi printer: the device units of the PDF pages, the
// window's printouts being laid out at the same resolution, with a
// printer's usual unprintable margin of 1/4 inch around.
constexpr int kDotsPerInch = 300;
constexpr int kPageWidth = 2480, kPageHeight = 3508;
constexpr int kMargin = kDotsPerInch / 4;

class PdfPainter final : public PagePainter {
 public:
  int Width() const override { return kPageWidth - 2 * kMargin; }
  int Height() const override { return kPageHeight - 2 * kMargin; }
  void SetFont(int height, int) override {
    size_ = std::max(1.0, height / kCellPerSize);
    height_ = std::max(1, height);
  }
  int TextHeight() const override { return height_; }
  int TextWidth(std::string_view s) const override {
    long w = 0;
    for (unsigned char c : s) w += TimesWidth(c);
    return static_cast<int>(w * size_ / 1000.0 + 0.5);
  }
  void Text(int x, int top, std::string_view s) override {
    if (s.empty()) return;
    double baseline = top + kAscentPerSize * size_;
    page_ += Pf("BT /F1 %.1f Tf %.1f %.1f Td (", size_, X(x), Y(baseline));
    for (unsigned char c : s) {
      if (c == '(' || c == ')' || c == '\\') {
        page_ += '\\';
        page_ += static_cast<char>(c);
      } else if (c < 32 || c >= 127) {
        page_ += Pf("\\%03o", static_cast<unsigned>(c));
      } else {
        page_ += static_cast<char>(c);
      }
    }
    page_ += ") Tj ET\n";
  }
  void Line(int x0, int y0, int x1, int y1) override {
    page_ += Pf("%.1f %.1f m %.1f %.1f l S\n", X(x0), Y(y0), X(x1), Y(y1));
  }
  void FillGrey(int x0, int y0, int x1, int y1) override {
    page_ += Pf("q 0.85 g %.1f %.1f %.1f %.1f re f Q\n", X(std::min(x0, x1)), Y(std::max(y0, y1)),
                 std::abs(x1 - x0) / 1.0, std::abs(y1 - y0) / 1.0);
  }
  bool NewPage() override {
    pages_.push_back(std::move(page_));
    page_.clear();
    return true;
  }

  // The whole document.
  std::string Document(const std::string& title) {
    if (!page_.empty() || pages_.empty()) NewPage();
    std::vector<std::string> objects;
    // 1 catalog, 2 page tree, 3 font, 4 info, then page and content pairs.
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (size_t i = 0; i < pages_.size(); ++i) kids += Pf("%zu 0 R ", 5 + 2 * i);
    objects.push_back(Pf("<< /Type /Pages /Count %zu /Kids [", pages_.size()) + kids + "] >>");
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /WinAnsiEncoding >>");
    objects.push_back("<< /Title " + PdfString(title) + " /Producer (Kestro) >>");
    for (size_t i = 0; i < pages_.size(); ++i) {
      objects.push_back(Pf("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.1f %.1f] /Resources << /Font << /F1 3 0 R "
                            ">> >> /Contents %zu 0 R >>",
                            kPageWidth * 72.0 / kDotsPerInch, kPageHeight * 72.0 / kDotsPerInch, 6 + 2 * i));
      // Device units are printer dots; lines two dots wide.
      std::string content = Pf("%.2f 0 0 %.2f 0 0 cm 2 w 0 G\n", 72.0 / kDotsPerInch, 72.0 / kDotsPerInch) + pages_[i];
      objects.push_back(Pf("<< /Length %zu >>\nstream\n", content.size()) + content + "endstream");
    }
    std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
      offsets.push_back(out.size());
      out += Pf("%zu 0 obj\n", i + 1) + objects[i] + "\nendobj\n";
    }
    size_t xref = out.size();
    out += Pf("xref\n0 %zu\n0000000000 65535 f \n", objects.size() + 1);
    for (size_t off : offsets) out += Pf("%010zu 00000 n \n", off);
    out += Pf("trailer\n<< /Size %zu /Root 1 0 R /Info 4 0 R >>\nstartxref\n%zu\n%%%%EOF\n", objects.size() + 1, xref);
    return out;
  }

 private:
  static double X(double x) { return x + kMargin; }
  static double Y(double y) { return kPageHeight - kMargin - y; }
  static std::string PdfString(const std::string& s) {
    std::string out = "(";
    for (unsigned char c : s) {
      if (c == '(' || c == ')' || c == '\\') out += '\\';
      if (c < 32) continue;
      out += static_cast<char>(c);
    }
    return out + ")";
  }

  double size_ = 10;
  int height_ = 11;
  std::string page_;
  std::vector<std::string> pages_;
};

}  // namespace

bool WritePdfList(const std::filesystem::path& path, const PrintJob& job, const std::string& documentName, int* pages,
                  int* perPage) {
  PdfPainter painter;
  int n = PrintPages(painter, job);
  if (pages) *pages = n;
  if (perPage) *perPage = std::max(PageGeometryFor(painter.Width(), painter.Height(), painter.TextHeight()).linesPerPage - 1, 1);
  std::string doc = painter.Document(documentName);
  return WriteTextFile(path, doc);
}

}  // namespace kestro::library
