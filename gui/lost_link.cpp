#include "gui/lost_link.h"

#include <algorithm>

namespace kestro::gui {

bool ReportLostLink(App& app) {
  if (app.link.linkErrorState != 1) return false;
  const auto& outcomes = app.lib.outcomes;
  bool failed = std::any_of(outcomes.begin(), outcomes.end(), [](const library::Library::SongOutcome& o) {
    return o.outcome == library::Library::Outcome::Failed;
  });
  if (!failed) return false;
  app.env.ui.ShowMessage(app.env.T("MSG_USB_TIMEOUT"), "Kestro - Error:", mb::kIconStop);
  return true;
}

}  // namespace kestro::gui
