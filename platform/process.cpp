#include "platform/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace kestro {

bool StartDetached(const std::filesystem::path& program, const std::vector<std::string>& args) {
  // Everything the children need is prepared before fork: after it only
  // async-signal-safe calls are allowed.
  std::string path = program.string();
  std::vector<std::string> owned;
  owned.reserve(args.size() + 1);
  owned.push_back(path);
  owned.insert(owned.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : owned) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The exec error, if any, comes back through this pipe; a successful exec
  // closes it without a word.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;

  pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) {
    close(report[0]);
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    setsid();
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, STDIN_FILENO);
      dup2(null, STDOUT_FILENO);
      if (null > STDERR_FILENO) close(null);
    }
    execv(argv[0], argv.data());
    int err = errno;
    ssize_t ignored = write(report[1], &err, sizeof err);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  bool forked = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  int err = 0;
  ssize_t n;
  while ((n = read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  return forked && n == 0;
}

}  // namespace kestro
