// Helpers shared by the test programs of every subsystem.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestro::testing {

// A fresh folder under the system temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::filesystem::path BuildDir();
std::filesystem::path SourceDir();
// Shipped data as built (DICT.DIC, MBRPBR.DAT, ...).
std::filesystem::path BuiltDataDir();
std::filesystem::path BuiltProgram(const std::string& name);

// The version that the top CMakeLists.txt gives the project ("1.2.3"), read
// from the source; empty when it cannot be found.
std::string ProjectVersion();

// Copies the built shipped data into `dir`, making it an install folder.
void FillInstallDir(const std::filesystem::path& dir);

struct RunResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};
// Runs a program and waits for it; `env` entries are added to (or replace)
// the environment; `input` is fed to its standard input.
RunResult Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
              const std::string& input = "");

// Environment entries for Run that give a program the desktop locale `lang`
// (LANG, with LC_ALL and LC_MESSAGES emptied so that nothing overrides it).
std::map<std::string, std::string> DesktopLocale(const std::string& lang);

// A program running beside the test, stopped (SIGTERM) when the object goes.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {});
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;
  // One line of its standard output (without the line end); empty on time-out or end.
  std::string ReadLine(int timeoutMs = 10000);
  int pid() const { return pid_; }
  // Stops it and returns its exit status (-1 when killed by a signal).
  int Stop();

 private:
  int pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

// A web server on 127.0.0.1 serving the files of `root` (Python's), which
// also answers requests sent to it as a proxy; stopped with the object.
class HttpServer {
 public:
  explicit HttpServer(const std::filesystem::path& root);
  // "127.0.0.1:PORT"; empty when the server did not start.
  const std::string& address() const { return address_; }
  // The path (or, through a proxy, the whole address) of the next request.
  std::string NextRequest(int timeoutMs = 5000) { return process_->ReadLine(timeoutMs); }
  void Stop() { process_->Stop(); }

 private:
  std::unique_ptr<TempDir> scriptDir_;
  std::unique_ptr<BackgroundProcess> process_;
  std::string address_;
};

// Debian's interpreter, which has the Python packages the tests need.
std::string Python3();

std::string ReadFileOrEmpty(const std::filesystem::path& p);
// Makes the folders on the way.
void WriteFileOrDie(const std::filesystem::path& p, const std::string& data);

}  // namespace kestro::testing
