#pragma once
// The subcommands. Each add...Command declares one subcommand (its options,
// its --help) on the app and, when the subcommand is chosen, points `run` at
// its body. A body returns the exit status, or throws Failure / Interrupted.

#include <functional>

namespace CLI {
class App;
}

namespace tavolen::cli {

class Session;
using Runner = std::function<int(Session&)>;

// Exit statuses besides 0 and the signal ones.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

void addSearchCommand(CLI::App& app, Runner& run);
void addInfoCommand(CLI::App& app, Runner& run);
void addSetCommand(CLI::App& app, Runner& run);
void addAliasCommand(CLI::App& app, Runner& run);
void addPtzCommand(CLI::App& app, Runner& run);
void addRebootCommand(CLI::App& app, Runner& run);
void addSnapshotCommand(CLI::App& app, Runner& run);
void addRecordCommand(CLI::App& app, Runner& run);
void addSdCommands(CLI::App& app, Runner& run);
void addEventsCommand(CLI::App& app, Runner& run);
void addListenCommand(CLI::App& app, Runner& run);
void addTalkCommand(CLI::App& app, Runner& run);

}  // namespace tavolen::cli
