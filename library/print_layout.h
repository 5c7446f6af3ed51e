// A printed song list: the page layout that the window's printout and the
// command-line tool's PDF share. The layout works in the device units of
// whatever it draws on (both front ends print in dots of 300 an inch) and reaches
// the page through a small painter interface, so the window paints with Qt
// and the command-line tool writes PDF without it.
//
// A page: a header line (program name, page title centred, date at the
// right), a grey band with the column headings, rows of title and performer
// in two columns ruled by lines, and a footer (the maker's line, "page n of
// p" centred). R = (H - 0.1 H) / L table lines fit a page, L being the text
// height + 5; the headings take the first, so a page holds R - 1 songs.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <optional>
#include <vector>

#include "context/env.h"
#include "library/song_record.h"

namespace kestro::library {

// Everything drawn is Latin-1 text; coordinates are device units with y
// growing down, text placed by the top of its line.
class PagePainter {
 public:
  virtual ~PagePainter() = default;
  // The printable area.
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // The list's font ("Times New Roman", light) of this height and average
  // character width; the painter may round to what it has.
  virtual void SetFont(int height, int averageWidth) = 0;
  // The height of a text line of the current font.
  virtual int TextHeight() const = 0;
  virtual int TextWidth(std::string_view latin1) const = 0;
  virtual void Text(int x, int top, std::string_view latin1) = 0;
  virtual void Line(int x0, int y0, int x1, int y1) = 0;
  // A light grey band between two corners.
  virtual void FillGrey(int x0, int y0, int x1, int y1) = 0;
  // Ends the current page and starts the next; false when the device failed.
  virtual bool NewPage() = 0;
};

struct PrintRow {
  std::string title;      // Latin-1
  std::string performer;  // Latin-1
};

struct PrintJob {
  std::string pageTitle;        // "MSG_PRINT_PAGETITLE_..."
  std::string date;             // "dd/mm/yyyy"
  std::string headings[2];      // "MSG_COLUMN_TITLE_0", "MSG_COLUMN_TITLE_1"
  std::string footer;           // the maker's line
  std::string pageOfFormat;     // "MSG_PAGE_X_OF_Y": two %d
  std::vector<PrintRow> rows;
};

// The geometry of a page of width W and height H for a text height.
struct PageGeometry {
  int width = 0, height = 0;
  int fontHeight = 0, fontWidth = 0;  // asked of the painter
  int lineHeight = 0;                 // L: text height + 5
  int linesPerPage = 0;               // R, headings included
  int x0 = 0, x1 = 0, y0 = 0, footerBase = 0, tableTop = 0, middle = 0;
};
// The font a page of W x H asks for: H / 80 high and W / 120 wide on a
// portrait page, H / 50 and W / 175 on a landscape one.
PageGeometry FontFor(int width, int height);
// The rest of the geometry once the painter tells the text height.
PageGeometry PageGeometryFor(int width, int height, int textHeight);
// Pages for `rows` songs: rows / (R - 1), one more for a remainder; at least
// one page, which shows the headings of an empty list.
int PageCount(const PageGeometry& g, size_t rows);

// Draws every page of the job; the number of pages, 0 when the painter
// failed.
int PrintPages(PagePainter& painter, const PrintJob& job);

// "dd/mm/yyyy" of today.
std::string TodayText();

// A list made ready to print: the texts of the list's side and medium, and
// its rows in the given order (only the selected ones when asked).
struct ListPrint {
  PrintJob job;
  std::string documentName;  // "MSG_PRINT_FILENAME_..."
};
// `pcList` chooses the PC list's titles, else the player's for `medium`
// (2 the internal memory, else the card). With `selectionOnly` and nothing
// selected: "MSG_NO_SONG_SELECTED" and nothing.
std::optional<ListPrint> PrepareListPrint(Env& env, const SongList& list, bool pcList, int medium,
                                          bool selectionOnly);

// The job written as a PDF file of A4 pages (Times-Roman, the printout's
// layout); false when the file cannot be written. `pages` gets the count of
// pages, `perPage` the songs a full page holds.
bool WritePdfList(const std::filesystem::path& path, const PrintJob& job, const std::string& documentName,
                  int* pages = nullptr, int* perPage = nullptr);

}  // namespace kestro::library
