#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "context/install_folder.h"
#include "platform/latin1.h"
#include "platform/paths.h"
#include "platform/version.h"
#include "shell/language.h"

namespace kestro::cli {

Context::Context(AnswerMode mode) : ui(mode), profile(ProfilePath()) {}

Env* Context::RequireInstall() {
  if (env_) return env_.get();
  // Without an installation the first run lays one out from the shipped data.
  FirstRunResult first = InstallFolderOrFirstRun(profile, ShippedDataDir());
  if (first.laidOut) {
    // Before the dictionary is read: the first run speaks the desktop's language.
    SetFirstRunLanguage(profile, MessagesLocale());
    std::fprintf(stderr, "Kestro: first run, install folder %s laid out (settings: %s)\n", first.installDir->c_str(),
                 profile.Path().c_str());
  }
  auto dir = first.installDir;
  if (!dir) {
    ui.SystemMessage("Invalid Installation!", "Kestro - Error:", mb::kIconStop);
    if (!first.problem.empty()) std::fprintf(stderr, "%s\n", first.problem.c_str());
    return nullptr;
  }
  if (!dict_.Load(*dir, profile, ui)) return nullptr;
  env_ = std::make_unique<Env>(Env{ui, clock, profile, dict_, *dir});
  return env_.get();
}

int Context::Fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", Latin1ToUtf8(message).c_str());
  return kFailed;
}

std::optional<std::string> TakeOption(std::vector<std::string>& args, const std::string& name) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name && i + 1 < args.size()) {
      std::string v = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return v;
    }
    if (args[i].rfind(name + "=", 0) == 0) {
      std::string v = args[i].substr(name.size() + 1);
      args.erase(args.begin() + static_cast<long>(i));
      return v;
    }
  }
  return std::nullopt;
}

bool TakeFlag(std::vector<std::string>& args, const std::string& name) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

std::optional<std::string> UnknownOption(const std::vector<std::string>& args) {
  for (const auto& a : args) {
    if (a.size() > 1 && a[0] == '-' && a != "-") return a;
  }
  return std::nullopt;
}

namespace {

void PrintUsage(const CommandTable& table, std::FILE* out) {
  std::fprintf(out,
               "Usage: kestro-cli [--home DIR] [--yes | --no] COMMAND [ARGS...]\n\n"
               "  --home DIR   settings folder (overrides $ZUMBLA_HOME)\n"
               "  --yes, --no  answer every question Yes/OK or No/Cancel\n"
               "  --version    print Kestro's version\n\n"
               "Commands:\n");
  for (const auto& c : table) {
    std::string name;
    for (const auto& w : c.words) name += (name.empty() ? "" : " ") + w;
    if (!c.args.empty()) name += " " + c.args;
    std::fprintf(out, "  %-40s %s\n", name.c_str(), c.summary.c_str());
  }
  std::fprintf(out, "\nkestro-cli COMMAND --help tells more about one command.\n");
}

void PrintCommandHelp(const Command& c) {
  std::string name;
  for (const auto& w : c.words) name += (name.empty() ? "" : " ") + w;
  std::printf("Usage: kestro-cli %s%s%s\n\n%s\n", name.c_str(), c.args.empty() ? "" : " ", c.args.c_str(),
              c.summary.c_str());
  if (!c.help.empty()) std::printf("\n%s\n", c.help.c_str());
}

}  // namespace

}  // namespace kestro::cli

int main(int argc, char** argv) {
  using namespace kestro;
  using namespace kestro::cli;

  CommandTable table;
  RegisterBasicCommands(table);
  RegisterMidiCommands(table);
  RegisterPackageCommands(table);
  RegisterPlayerCommands(table);
  RegisterLibraryCommands(table);
  RegisterFirmwareCommands(table);
  RegisterConvertCommands(table);
  RegisterCardCommands(table);
  RegisterTransferCommands(table);
  RegisterPlayCommands(table);
  RegisterFloppyCommands(table);

  std::vector<std::string> args(argv + 1, argv + argc);
  AnswerMode mode = AnswerMode::Ask;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--home") {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "--home needs a folder\n");
        return kUsage;
      }
      setenv("ZUMBLA_HOME", args[++i].c_str(), 1);
    } else if (a.rfind("--home=", 0) == 0) {
      setenv("ZUMBLA_HOME", a.substr(7).c_str(), 1);
    } else if (a == "--yes") {
      mode = AnswerMode::Yes;
    } else if (a == "--no") {
      mode = AnswerMode::No;
    } else if (a == "--help" || a == "-h") {
      PrintUsage(table, stdout);
      return kOk;
    } else if (a == "--version") {
      std::printf("Kestro %s\n", kKestroVersion);
      return kOk;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      PrintUsage(table, stderr);
      return kUsage;
    } else {
      break;
    }
  }
  args.erase(args.begin(), args.begin() + static_cast<long>(i));
  if (args.empty()) {
    PrintUsage(table, stderr);
    return kUsage;
  }

  // The command with the most matching leading words.
  const Command* best = nullptr;
  size_t bestLen = 0;
  for (const auto& c : table) {
    if (c.words.size() > args.size()) continue;
    bool match = true;
    for (size_t k = 0; k < c.words.size(); ++k) {
      if (args[k] != c.words[k]) {
        match = false;
        break;
      }
    }
    if (match && c.words.size() > bestLen) {
      best = &c;
      bestLen = c.words.size();
    }
  }
  if (!best) {
    // A group word alone ("dict") or a wrong sub-command lists the group.
    bool group = false;
    for (const auto& c : table) {
      if (c.words[0] == args[0]) group = true;
    }
    std::fprintf(stderr, group ? "unknown or missing sub-command of %s\n" : "unknown command %s\n",
                 args[0].c_str());
    if (group) {
      for (const auto& c : table) {
        if (c.words[0] != args[0]) continue;
        std::string name;
        for (const auto& w : c.words) name += (name.empty() ? "" : " ") + w;
        std::fprintf(stderr, "  kestro-cli %s %s\n", name.c_str(), c.args.c_str());
      }
    }
    return kUsage;
  }
  std::vector<std::string> rest(args.begin() + static_cast<long>(bestLen), args.end());
  for (const auto& a : rest) {
    if (a == "--help" || a == "-h") {
      PrintCommandHelp(*best);
      return kOk;
    }
  }
  Context ctx(mode);
  return best->run(ctx, rest);
}
