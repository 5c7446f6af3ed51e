// Song files into the PC song folder: the import command (a chooser of
// files), files dropped from the desktop's file manager on either list, and
// the demo songs of a first run. Each file goes through the core's import of
// one song file; this adds the batch around it: the progress window, the
// count of the songs that arrived, the report, and for a drop on the player
// list the way on to the player through a "temp" folder.
#pragma once

#include <filesystem>
#include <vector>

#include "shell/app.h"

namespace kestro::gui {

class FileImport {
 public:
  explicit FileImport(App& app) : app_(app) {}

  // The import command: returns the songs imported (0 also on cancel).
  int ImportFromPc();
  // Files dropped on the PC list (`toPlayer` false) or on the player list.
  // Folders and files of other kinds are skipped and not counted.
  int ImportDropped(const std::vector<std::filesystem::path>& files, bool toPlayer);

  // The files of one batch into `songFolder`, the progress window showing
  // `line1` and `line2` (a format of the files done and their total).
  int ImportFiles(const std::vector<std::filesystem::path>& files, const std::filesystem::path& songFolder,
                  bool dropped, const std::string& line1, const std::string& line2);

  // The report: "1 canzone ..." or "%d canzoni ..." in the user's language.
  std::string ReportText(int imported) const;

 private:
  App& app_;
};

// The first run: while `pcFolder` holds no song yet, the demo songs of
// `demoFolder` are imported into it, without questions or report. The count
// imported.
int ImportDemoSongs(Env& env, const std::filesystem::path& demoFolder, const std::filesystem::path& pcFolder);

}  // namespace kestro::gui
