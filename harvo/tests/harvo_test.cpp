// harvo against a real HTTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;


class Harvo : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root / "DOWNLOAD");
    server = std::make_unique<testing::HttpServer>(root);
    port = server->address().substr(std::string("127.0.0.1:").size());
    ASSERT_FALSE(port.empty());
  }
  testing::RunResult Harvo5(const std::string& remote, const fs::path& local, const std::string& hwnd = "1234",
                            const std::string& msg = "1025") {
    return testing::Run({testing::BuiltProgram("harvo").string(), "127.0.0.1:" + port, remote, local.string(), hwnd,
                         msg});
  }

  TempDir dir;
  fs::path root = dir / "www";
  std::unique_ptr<testing::HttpServer> server;
  std::string port;
};

TEST_F(Harvo, DownloadsTheFileWithFiveArguments) {
  std::string body;
  for (int i = 0; i < 3000; ++i) body += static_cast<char>((i * 7) & 0xFF);
  testing::WriteFileOrDie(root / "DOWNLOAD" / "ZUMBLA2.MHX", body);
  auto r = Harvo5("DOWNLOAD/ZUMBLA2.MHX", dir / "ZUMBLA2.MHX");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "hwndToSend=1234\nUpdateProgressBar=1025\nExit from procedure\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(testing::ReadFileOrEmpty(dir / "ZUMBLA2.MHX"), body);
}

TEST_F(Harvo, SizeThatIsAMultipleOf1024EndsCleanly) {
  std::string body(4096, 'S');
  testing::WriteFileOrDie(root / "DOWNLOAD" / "ZUMBLA.MHX", body);
  testing::WriteFileOrDie(dir / "old.MHX", std::string(9000, 'o'));  // truncated, not appended to
  auto r = Harvo5("DOWNLOAD/ZUMBLA.MHX", dir / "old.MHX", "x", "y");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "hwndToSend=0\nUpdateProgressBar=0\nExit from procedure\n");  // non-numeric give 0
  EXPECT_EQ(testing::ReadFileOrEmpty(dir / "old.MHX"), body);
}

TEST_F(Harvo, AnErrorPageIsStoredAsItCame) {
  auto r = Harvo5("DOWNLOAD/MISSING.MHX", dir / "ZUMBLA.MHX");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::string page = testing::ReadFileOrEmpty(dir / "ZUMBLA.MHX");
  EXPECT_NE(page.find("404"), std::string::npos);
  EXPECT_NE(page.find("File not found"), std::string::npos);
}

TEST_F(Harvo, GoesThroughTheProxyOfTheEnvironment) {
  testing::WriteFileOrDie(root / "DOWNLOAD" / "ZUMBLA.MHX", "through the proxy");
  // The host does not resolve: only the proxy can serve it.
  auto r = testing::Run({testing::BuiltProgram("harvo").string(), "zumbla.example.invalid", "DOWNLOAD/ZUMBLA.MHX",
                         (dir / "ZUMBLA.MHX").string(), "1", "2"},
                        {{"http_proxy", "http://127.0.0.1:" + port}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testing::ReadFileOrEmpty(dir / "ZUMBLA.MHX"), "through the proxy") << r.err;
}

TEST_F(Harvo, FourArgumentsAreABadParam) {
  auto r = testing::Run({testing::BuiltProgram("harvo").string(), "127.0.0.1:" + port, "DOWNLOAD/ZUMBLA.MHX",
                         (dir / "out").string(), "1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "bad param\n");
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST_F(Harvo, UnreachableHostLeavesNoFile) {
  // A port nobody listens on: the server of this test is stopped first.
  server->Stop();
  auto r = Harvo5("DOWNLOAD/ZUMBLA.MHX", dir / "ZUMBLA.MHX");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "hwndToSend=1234\nUpdateProgressBar=1025\nExit from procedure\n");
  EXPECT_NE(r.err.find("Internet connection error: Internet Session for http://127.0.0.1:" + port +
                       "/DOWNLOAD/ZUMBLA.MHX failed'"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(dir / "ZUMBLA.MHX"));
}

TEST_F(Harvo, LocalFileThatCannotBeCreated) {
  testing::WriteFileOrDie(root / "DOWNLOAD" / "ZUMBLA.MHX", "data");
  auto r = Harvo5("DOWNLOAD/ZUMBLA.MHX", dir / "no-such-folder" / "ZUMBLA.MHX");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("Error: non posso creare " + (dir / "no-such-folder" / "ZUMBLA.MHX").string() + ":\nError = 2"),
            std::string::npos)
      << r.err;
}

// A server that takes the request and hangs up without an answer once the
// test says so: the address "could not be opened".
const char* kSilentServer = R"(
import os, socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(1)
print(s.getsockname()[1], flush=True)
c, _ = s.accept()
c.recv(65536)
while not os.path.exists(sys.argv[1]):
    time.sleep(0.02)
c.close()
)";

TEST(HarvoLate, LeavesAFileThatIsNoLongerItsOwn) {
  // Kestro stops waiting after a fixed time and puts its previous file back
  // under the same name; a harvo failing later must not delete that one.
  TempDir dir;
  testing::WriteFileOrDie(dir / "server.py", kSilentServer);
  testing::BackgroundProcess server({testing::Python3(), (dir / "server.py").string(), (dir / "go").string()});
  std::string port = server.ReadLine();
  ASSERT_FALSE(port.empty());
  const fs::path local = dir / "ZUMBLA2.MHX";
  testing::BackgroundProcess harvo({testing::BuiltProgram("harvo").string(), "127.0.0.1:" + port,
                                    "DOWNLOAD/ZUMBLA2.MHX", local.string(), "1", "0"});
  EXPECT_EQ(harvo.ReadLine(), "hwndToSend=1");
  EXPECT_EQ(harvo.ReadLine(), "UpdateProgressBar=0");
  // harvo has created its file by now (it opens it before connecting).
  for (int i = 0; i < 500 && !fs::exists(local); ++i) usleep(10000);
  ASSERT_TRUE(fs::exists(local));
  fs::remove(local);
  testing::WriteFileOrDie(local, "the previous firmware");
  testing::WriteFileOrDie(dir / "go", "");
  EXPECT_EQ(harvo.ReadLine(), "Exit from procedure");
  EXPECT_EQ(testing::ReadFileOrEmpty(local), "the previous firmware");
}

}  // namespace
}  // namespace kestro
