// tavolen: the command-line tool for camera owners, over the library's public
// C interface. Subcommands in the manner of the field's tools: --help on
// each, quiet by default, exit status 0 on success and otherwise one line on
// stderr and a non-zero status (2 for a bad argument, 128 + the signal when
// interrupted).
#include <CLI/CLI.hpp>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "commands.h"
#include "console.h"
#include "failure.h"
#include "session.h"
#include "tavolen/tavolen.h"
#include "waits.h"

namespace {

using namespace tavolen::cli;

// Closing a link waits for its threads; if the camera keeps one of them
// busy past this, the process ends anyway, with the status it had.
constexpr auto kCloseLimit = std::chrono::seconds(10);

void limitClosing(int status) {
  std::thread([status] {
    std::this_thread::sleep_for(kCloseLimit);
    std::fflush(Console::out());
    ::_exit(status);
  }).detach();
}

// The first word that is no option, when it names no subcommand (the parser
// would only say that a subcommand is required).
std::string unknownSubcommand(CLI::App& app, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--timeout") {
      ++i;
      continue;
    }
    if (word.empty() || word[0] == '-') continue;
    const auto known = app.get_subcommands([&](CLI::App* sub) { return sub->get_name() == word; });
    return known.empty() ? word : "";
  }
  return "";
}

int finish(Session& session, int status) {
  std::fflush(Console::out());
  limitClosing(status);
  session.close();
  if (session.abandoned()) ::_exit(status);
  if (std::fflush(Console::out()) != 0 || std::ferror(Console::out())) return status == 0 ? kExitFailure : status;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"tavolen: view, record and drive network cameras from the command line.\n"
               "CAMERA is [user[:password]@]host[:port] (user admin, port 80 by default); the password may also\n"
               "come from TAVOLEN_PASSWORD, or a prompt when only user@ is written.",
               "tavolen"};
  GlobalOptions global;
  app.set_version_flag("--version", "tavolen " TAVOLEN_VERSION);
  app.add_flag("-v,--verbose", global.verbose, "show the library's diagnostic lines on stderr");
  app.add_option("--timeout", global.timeoutSeconds, "seconds to wait for each answer of the camera")
      ->check(CLI::Range(0.5, 3600.0))
      ->capture_default_str();
  app.require_subcommand(1);
  app.fallthrough();

  Runner run;
  addSearchCommand(app, run);
  addInfoCommand(app, run);
  addSetCommand(app, run);
  addAliasCommand(app, run);
  addPtzCommand(app, run);
  addRebootCommand(app, run);
  addSnapshotCommand(app, run);
  addRecordCommand(app, run);
  addSdCommands(app, run);
  addEventsCommand(app, run);
  addListenCommand(app, run);
  addTalkCommand(app, run);

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    const std::string unknown = unknownSubcommand(app, argc, argv);
    std::fprintf(stderr, "tavolen: %s (see tavolen --help)\n",
                 unknown.empty() ? e.what() : ("unknown subcommand " + unknown).c_str());
    return kExitUsage;
  }

  startInterruptHandling();
  Console::takeOver(global.verbose);
  Session session(global);
  int status;
  try {
    status = run(session);
  } catch (const Interrupted&) {
    status = interruptedStatus();
  } catch (const UsageError& e) {
    message(e.what());
    status = kExitUsage;
  } catch (const Failure& e) {
    message(e.what());
    status = kExitFailure;
  } catch (const std::exception& e) {
    message(e.what());
    status = kExitFailure;
  }
  return finish(session, status);
}
