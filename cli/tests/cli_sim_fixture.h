// kestro-cli against zumbla-sim: a settings folder of its own with an
// install folder, and the "Simulator" key pointing at the simulator's socket.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/testing/testsupport.h"
#include "sim/sim_process.h"

namespace kestro {

class CliWithSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    // Italian, the texts' own default, whatever the machine's locale.
    ASSERT_EQ(Cmd({"install", (home / "inst").string()}, testing::DesktopLocale("it_IT.UTF-8")).status, 0);
    ASSERT_EQ(Cmd({"ini", "set", "Link", "Simulator", sock}).status, 0);
  }
  testing::RunResult Cmd(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), testing::BuiltProgram("kestro-cli").string());
    env["ZUMBLA_HOME"] = home.path().string();
    return testing::Run(args, env);
  }
  // A simulated player on the socket, with its state in home/sim.
  std::unique_ptr<sim::SimProcess> Start(const std::vector<std::string>& args = {}) {
    auto p = std::make_unique<sim::SimProcess>(testing::BuiltProgram("zumbla-sim"), home / "sim", sock, args);
    EXPECT_TRUE(p->Running());
    return p;
  }

  testing::TempDir home;
  std::string sock = (home / "zumbla.sock").string();
};

}  // namespace kestro
