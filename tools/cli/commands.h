#pragma once
// The subcommands. Each add...Command declares one subcommand (its options,
// its --help) on the app and, when the subcommand is chosen, points `run` at
// its body. A body returns the exit status, or throws Failure / Interrupted.

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tavolen::cli {

class Session;
using Runner = std::function<int(Session&)>;

// Exit statuses besides 0 and the signal ones.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Declares a subcommand of parent that talks to a camera: CAMERA is its first
// argument (into options->camera), and body runs with the options when the
// subcommand is chosen.
template <typename Options>
CLI::App* cameraSubcommand(CLI::App& parent, Runner& run, std::shared_ptr<Options> options,
                           int (*body)(Session&, const Options&), const std::string& name, const std::string& help) {
  CLI::App* sub = parent.add_subcommand(name, help);
  sub->add_option("camera", options->camera, "[user[:password]@]host[:port]")->required();
  sub->callback([options, body, &run] { run = [options, body](Session& s) { return body(s, *options); }; });
  return sub;
}

// --stream: which live stream the subcommand opens, and what it needs it for.
inline void addStreamOption(CLI::App* sub, int32_t& stream, const std::string& purpose) {
  sub->add_option("--stream", stream, "the live stream id" + (purpose.empty() ? "" : " (" + purpose + ")"))
      ->capture_default_str();
}

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
