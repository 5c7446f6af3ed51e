// kestro: the windowed program.
#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "gui/main_window.h"
#include "gui/program.h"
#include "gui/text_mode.h"

int main(int argc, char** argv) {
  using namespace kestro::gui;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  auto options = ParseProgramOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "kestro: %s\n%s", error.c_str(), kProgramUsage);
    return 2;
  }
  if (options->help) {
    std::fputs(kProgramUsage, stdout);
    return 0;
  }
  if (!HasDisplay()) return RunWithoutDisplay(*options);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kestro"));
  QApplication::setQuitOnLastWindowClosed(false);
  Program program(*options);
  if (auto status = program.Start()) return *status;
  CloseOnSignals(program.Window());
  program.Exec();
  program.Finish();
  return 0;
}
