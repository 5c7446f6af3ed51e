// Starting a program detached, for real.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/fileutil.h"
#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;

// The started program runs on its own; wait (a bounded while) for its mark.
std::string WaitForFile(const fs::path& p) {
  for (int i = 0; i < 500; ++i) {
    if (auto t = ReadTextFile(p); t && t->size() >= 2 && t->substr(t->size() - 2) == ".\n") return *t;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return {};
}

TEST(StartDetached, PassesEachArgumentAsItIs) {
  testing::TempDir dir;
  // The arguments reach the program untouched by any shell: blanks, quotes
  // and a dollar sign included. It writes them one a line, then a dot.
  const fs::path out = dir / "args.txt";
  const std::string script =
      "for a in \"$@\"; do echo \"[$a]\"; done > \"$0.tmp\"; echo . >> \"$0.tmp\"; mv \"$0.tmp\" \"$0\"";
  ASSERT_TRUE(StartDetached("/bin/sh", {"-c", script, out.string(), "www.zumbla.example.com", "DOWNLOAD/ZUMBLA2.MHX",
                                        "/a folder/with \"quotes\"/$HOME", "0"}));
  EXPECT_EQ(WaitForFile(out),
            "[www.zumbla.example.com]\n[DOWNLOAD/ZUMBLA2.MHX]\n[/a folder/with \"quotes\"/$HOME]\n[0]\n.\n");
}

TEST(StartDetached, DoesNotWaitForTheProgram) {
  testing::TempDir dir;
  const fs::path out = dir / "late.txt";
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(StartDetached("/bin/sh", {"-c", "sleep 2; echo . > \"$0\"", out.string()}));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_FALSE(fs::exists(out));
  // It is nobody's child here: nothing to reap, no zombie left behind.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(WaitForFile(out), ".\n");
}

TEST(StartDetached, FailsForWhatCannotRun) {
  testing::TempDir dir;
  testing::WriteFileOrDie(dir / "not-a-program", "just text");
  EXPECT_FALSE(StartDetached(dir / "missing", {}));
  EXPECT_FALSE(StartDetached(dir / "not-a-program", {}));
  EXPECT_FALSE(StartDetached(dir.path(), {}));
}

}  // namespace
}  // namespace kestro
