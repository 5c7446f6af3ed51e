#include "platform/testing/testsupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <stdexcept>

extern char** environ;

namespace kestro::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "kestro-test-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

fs::path BuildDir() {
  if (const char* b = std::getenv("KESTRO_BUILD_DIR")) return b;
  fs::path exe = fs::read_symlink("/proc/self/exe");
  return exe.parent_path().parent_path();
}

fs::path SourceDir() {
  if (const char* s = std::getenv("KESTRO_SOURCE_DIR")) return s;
  return fs::path(KESTRO_SOURCE_DIR_DEFAULT);
}

fs::path BuiltDataDir() { return BuildDir() / "share" / "kestro"; }
fs::path BuiltProgram(const std::string& name) { return BuildDir() / "bin" / name; }

std::string ProjectVersion() {
  const std::string top = ReadFileOrEmpty(SourceDir() / "CMakeLists.txt");
  std::smatch m;
  if (!std::regex_search(top, m, std::regex(R"(project\s*\(\s*Kestro\s+VERSION\s+([0-9][0-9.]*))"))) return {};
  return m[1];
}

void FillInstallDir(const fs::path& dir) {
  fs::create_directories(dir);
  for (const auto& e : fs::directory_iterator(BuiltDataDir())) {
    if (e.is_regular_file()) fs::copy_file(e.path(), dir / e.path().filename(), fs::copy_options::overwrite_existing);
  }
}

std::map<std::string, std::string> DesktopLocale(const std::string& lang) {
  return {{"LANG", lang}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}};
}

namespace {
std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& env) {
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; ++e) {
    std::string s(*e);
    size_t eq = s.find('=');
    if (eq != std::string::npos) merged[s.substr(0, eq)] = s.substr(eq + 1);
  }
  for (const auto& [k, v] : env) merged[k] = v;
  std::vector<std::string> out;
  for (const auto& [k, v] : merged) out.push_back(k + "=" + v);
  return out;
}

// argv and the environment as execve wants them.
struct ExecVectors {
  ExecVectors(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env)
      : args(argv), envStrings(MergedEnvironment(env)) {
    for (auto& s : args) argp.push_back(s.data());
    argp.push_back(nullptr);
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
  }
  std::vector<std::string> args;
  std::vector<std::string> envStrings;
  std::vector<char*> argp;
  std::vector<char*> envp;
};
}  // namespace

RunResult Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              const std::string& input) {
  RunResult r;
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe)) return r;
  ExecVectors exec(argv, env);

  pid_t pid = fork();
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(inPipe[1]);
    close(outPipe[0]);
    close(errPipe[0]);
    execve(exec.argp[0], exec.argp.data(), exec.envp.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  size_t written = 0;
  if (input.empty()) {
    close(inPipe[1]);
    inPipe[1] = -1;
  }
  fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
  fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[3];
    int n = 0;
    if (outOpen) fds[n++] = {outPipe[0], POLLIN, 0};
    if (errOpen) fds[n++] = {errPipe[0], POLLIN, 0};
    if (inPipe[1] >= 0) fds[n++] = {inPipe[1], POLLOUT, 0};
    if (poll(fds, static_cast<nfds_t>(n), 60000) <= 0) break;
    for (int i = 0; i < n; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == inPipe[1]) {
        ssize_t w = write(inPipe[1], input.data() + written, input.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 || written == input.size()) {
          close(inPipe[1]);
          inPipe[1] = -1;
        }
        continue;
      }
      char buf[4096];
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        (fds[i].fd == outPipe[0] ? r.out : r.err).append(buf, static_cast<size_t>(got));
      } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        if (fds[i].fd == outPipe[0]) outOpen = false;
        else errOpen = false;
      }
    }
  }
  if (inPipe[1] >= 0) close(inPipe[1]);
  close(outPipe[0]);
  close(errPipe[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string Python3() { return "/usr/bin/python3"; }


BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::map<std::string, std::string>& env) {
  int p[2];
  if (pipe(p) != 0) return;
  ExecVectors exec(argv, env);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(p[1], 1);
    close(p[0]);
    close(p[1]);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    execve(exec.argp[0], exec.argp.data(), exec.envp.data());
    _exit(127);
  }
  close(p[1]);
  out_ = p[0];
}

BackgroundProcess::~BackgroundProcess() { Stop(); }

std::string BackgroundProcess::ReadLine(int timeoutMs) {
  while (true) {
    size_t nl = pending_.find('\n');
    if (nl != std::string::npos) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return line;
    }
    if (out_ < 0) return {};
    pollfd fd{out_, POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) <= 0) return {};
    char buf[512];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return {};
    pending_.append(buf, static_cast<size_t>(n));
  }
}

int BackgroundProcess::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int st = 0;
  waitpid(pid_, &st, 0);
  pid_ = -1;
  if (out_ >= 0) close(out_);
  out_ = -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

HttpServer::HttpServer(const fs::path& root) : scriptDir_(std::make_unique<TempDir>()) {
  static const char* kScript = R"(
import functools, http.server, socketserver, sys, urllib.parse
class Handler(http.server.SimpleHTTPRequestHandler):
    def translate_path(self, path):
        print(path, flush=True)
        return super().translate_path(urllib.parse.urlsplit(path).path)
    def log_message(self, *args):
        pass
handler = functools.partial(Handler, directory=sys.argv[1])
with socketserver.TCPServer(("127.0.0.1", 0), handler) as server:
    print(server.server_address[1], flush=True)
    server.serve_forever()
)";
  fs::path script = scriptDir_->path() / "server.py";
  WriteFileOrDie(script, kScript);
  process_ = std::make_unique<BackgroundProcess>(std::vector<std::string>{Python3(), script.string(), root.string()});
  std::string port = process_->ReadLine();
  if (!port.empty()) address_ = "127.0.0.1:" + port;
}

std::string ReadFileOrEmpty(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileOrDie(const fs::path& p, const std::string& data) {
  std::error_code ec;
  if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
  std::ofstream out(p, std::ios::binary);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

}  // namespace kestro::testing
