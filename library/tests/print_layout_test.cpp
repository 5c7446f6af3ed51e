#include "library/print_layout.h"

#include <gtest/gtest.h>

#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"

namespace kestro::library {
namespace {

namespace fs = std::filesystem;

// Records what the layout draws, page by page.
class RecordingPainter final : public PagePainter {
 public:
  RecordingPainter(int w, int h, int textHeight) : w_(w), h_(h), th_(textHeight) {}
  int Width() const override { return w_; }
  int Height() const override { return h_; }
  void SetFont(int height, int averageWidth) override {
    fontHeight = height;
    fontWidth = averageWidth;
  }
  int TextHeight() const override { return th_; }
  int TextWidth(std::string_view s) const override { return static_cast<int>(s.size()) * 10; }
  void Text(int x, int top, std::string_view s) override { pages.back().texts.push_back({x, top, std::string(s)}); }
  void Line(int x0, int y0, int x1, int y1) override { pages.back().lines.push_back({x0, y0, x1, y1}); }
  void FillGrey(int x0, int y0, int x1, int y1) override { pages.back().bands.push_back({x0, y0, x1, y1}); }
  bool NewPage() override {
    pages.emplace_back();
    return true;
  }

  struct TextAt {
    int x, y;
    std::string text;
  };
  struct Box {
    int x0, y0, x1, y1;
  };
  struct Page {
    std::vector<TextAt> texts;
    std::vector<Box> lines, bands;
  };
  std::vector<Page> pages{1};
  int fontHeight = 0, fontWidth = 0;

 private:
  int w_, h_, th_;
};

PrintJob Job(size_t rows) {
  PrintJob job;
  job.pageTitle = "Songs on the PC";
  job.date = "05/03/2024";
  job.headings[0] = "Title";
  job.headings[1] = "Performer";
  job.footer = "Zumbla";
  job.pageOfFormat = "Page %d of %d";
  for (size_t i = 0; i < rows; ++i) job.rows.push_back({"Song " + std::to_string(i), "Singer " + std::to_string(i)});
  return job;
}

bool Has(const RecordingPainter::Page& p, const std::string& text) {
  for (const auto& t : p.texts) {
    if (t.text == text) return true;
  }
  return false;
}

TEST(PrintLayout, FontAndRowsPerPageFollowThePage) {
  struct Case {
    int w, h, textHeight;
    int fontHeight, fontWidth, linesPerPage;
  };
  const Case cases[] = {
      {4800, 6600, 82, 82, 40, 6600 * 9 / 10 / 87},  // portrait: H/80, W/120
      {6600, 4800, 96, 96, 37, 4320 / 101},          // landscape: H/50, W/175
      {595, 842, 10, 10, 4, 758 / 15},
  };
  for (const Case& c : cases) {
    PageGeometry f = FontFor(c.w, c.h);
    EXPECT_EQ(f.fontHeight, c.fontHeight);
    EXPECT_EQ(f.fontWidth, c.fontWidth);
    PageGeometry g = PageGeometryFor(c.w, c.h, c.textHeight);
    EXPECT_EQ(g.lineHeight, c.textHeight + 5);
    EXPECT_EQ(g.linesPerPage, c.linesPerPage) << c.w << "x" << c.h;
    // R - 1 songs fill one page; one more needs a second.
    EXPECT_EQ(PageCount(g, static_cast<size_t>(g.linesPerPage - 1)), 1);
    EXPECT_EQ(PageCount(g, static_cast<size_t>(g.linesPerPage)), 2);
    EXPECT_EQ(PageCount(g, static_cast<size_t>(2 * (g.linesPerPage - 1))), 2);
    EXPECT_EQ(PageCount(g, 0), 1);
  }
}

TEST(PrintLayout, PagesCarryHeaderRowsLinesAndFooter) {
  RecordingPainter p(4800, 6600, 82);
  PageGeometry g = PageGeometryFor(4800, 6600, 82);
  const size_t perPage = static_cast<size_t>(g.linesPerPage - 1);
  PrintJob job = Job(perPage + 3);
  ASSERT_EQ(PrintPages(p, job), 2);
  ASSERT_EQ(p.pages.size(), 2u);
  EXPECT_EQ(p.fontHeight, 82);
  EXPECT_EQ(p.fontWidth, 40);

  const auto& first = p.pages[0];
  // Header: program at x0, title centred on W/2, date ending at x1 - 1.
  auto at = [&](const RecordingPainter::Page& page, const std::string& text) {
    for (const auto& t : page.texts) {
      if (t.text == text) return t;
    }
    ADD_FAILURE() << text;
    return RecordingPainter::TextAt{0, 0, ""};
  };
  EXPECT_EQ(at(first, "Kestro").x, 144);
  EXPECT_EQ(at(first, "Kestro").y, 66);
  EXPECT_EQ(at(first, "Songs on the PC").x, 2400 - 75);
  EXPECT_EQ(at(first, "05/03/2024").x, 4656 - 1 - 100);
  EXPECT_EQ(at(first, "Page 1 of 2").y, 6600 - 66 - 82);
  EXPECT_EQ(at(p.pages[1], "Page 2 of 2").x, 2400 - 55);
  EXPECT_EQ(at(first, "Zumbla").x, 144);
  // Headings on the band, the first song on table line 1, performers in the
  // second column.
  EXPECT_EQ(at(first, "Title").y, 330 + 2);
  EXPECT_EQ(at(first, "Performer").x, 2410);
  EXPECT_EQ(at(first, "Song 0").y, 87 + 330 + 2);
  EXPECT_EQ(at(first, "Singer 0").x, 2410);
  ASSERT_EQ(first.bands.size(), 1u);
  EXPECT_EQ(first.bands[0].y1, 330 + 82 + 4);
  // The songs run on without a gap and none is printed twice.
  EXPECT_TRUE(Has(first, "Song " + std::to_string(perPage - 1)));
  EXPECT_FALSE(Has(first, "Song " + std::to_string(perPage)));
  EXPECT_TRUE(Has(p.pages[1], "Song " + std::to_string(perPage)));
  EXPECT_TRUE(Has(p.pages[1], "Song " + std::to_string(perPage + 2)));
  // The vertical rules end at the line under the last song of the page.
  auto verticals = [](const RecordingPainter::Page& page) {
    std::vector<RecordingPainter::Box> v;
    for (const auto& l : page.lines) {
      if (l.x0 == l.x1) v.push_back(l);
    }
    return v;
  };
  ASSERT_EQ(verticals(p.pages[1]).size(), 3u);
  EXPECT_EQ(verticals(p.pages[1])[0].y1, 4 * 87 + 330);
  EXPECT_EQ(verticals(p.pages[1])[1].x0, 2400);
  EXPECT_EQ(verticals(first)[2].y1, (static_cast<int>(perPage) + 1) * 87 + 330);
}

TEST(PrintLayout, PdfHoldsEveryPageAndText) {
  testing::TempDir dir;
  PrintJob job = Job(100);
  job.rows[7].title = "Perch\xE9 (forse)";
  int pages = 0;
  fs::path out = dir.path() / "list.pdf";
  ASSERT_TRUE(WritePdfList(out, job, "Kestro - Songs", &pages));
  EXPECT_EQ(pages, PageCount(PageGeometryFor(2330, 3358, 3358 / 80), 100));
  EXPECT_EQ(pages, 2);
  auto bytes = ReadBinaryFile(out);
  ASSERT_TRUE(bytes);
  std::string pdf(bytes->begin(), bytes->end());
  EXPECT_EQ(pdf.rfind("%PDF-1.4", 0), 0u);
  EXPECT_NE(pdf.find("/Count " + std::to_string(pages)), std::string::npos);
  EXPECT_NE(pdf.find("(Perch\\351 \\(forse\\)) Tj"), std::string::npos);
  EXPECT_NE(pdf.find("%%EOF"), std::string::npos);
  EXPECT_FALSE(WritePdfList(dir.path() / "missing" / "list.pdf", job, "x"));
}

}  // namespace
}  // namespace kestro::library
