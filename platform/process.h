// Starting another program of the suite as a process of its own, the way the
// shell starts one: the caller does not wait for it and learns nothing about
// how it ends.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kestro {

// The hook through which the core starts programs, so that tests can run
// them their own way (for instance to the end, before going on).
class ProcessStarter {
 public:
  virtual ~ProcessStarter() = default;
  // Starts `program` with `args` (one argv entry each, no shell). True when
  // the program is running.
  virtual bool Start(const std::filesystem::path& program, const std::vector<std::string>& args) = 0;
};

// Starts the program detached: in a session of its own, reparented to init
// so that it never lingers as a zombie of the caller, standard input and
// output on /dev/null, standard error shared with the caller (its error
// reports stay visible on a terminal). Fails when the program cannot be
// executed.
bool StartDetached(const std::filesystem::path& program, const std::vector<std::string>& args);

class DetachedStarter final : public ProcessStarter {
 public:
  bool Start(const std::filesystem::path& program, const std::vector<std::string>& args) override {
    return StartDetached(program, args);
  }
};

}  // namespace kestro
