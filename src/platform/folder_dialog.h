#pragma once
// The folder chooser behind SetPath. The desktop backend runs a chooser
// program and reads the chosen folder from its standard output:
//   $TAVOLEN_FOLDER_DIALOG when set (a shell command line, run as is),
//   else zenity --file-selection --directory --title=<title>,
//   else kdialog --getexistingdirectory --title <title>.
// zenity and kdialog need a display ($DISPLAY or $WAYLAND_DISPLAY); without
// one, or without either program, the dialog counts as cancelled. A non-zero
// exit, an empty answer or an answer of more than one line is cancelled too.
//
// Threads: choose() blocks its caller until the user answers; cancel() may
// be called from any other thread and makes a running choose() return
// cancelled at once (the chooser is ended); every later choose() is
// cancelled too (it is meant for the owner's teardown).

#include <memory>
#include <optional>
#include <string>

namespace tavolen::platform {

inline constexpr const char* kFolderDialogVariable = "TAVOLEN_FOLDER_DIALOG";
// Longest answer read from a chooser; anything longer is no folder name.
inline constexpr size_t kMaxChooserOutput = 16384;

class FolderDialog {
 public:
  virtual ~FolderDialog() = default;
  // The chosen folder, or nullopt when cancelled.
  virtual std::optional<std::string> choose(const std::string& title) = 0;
  virtual void cancel() = 0;
};

std::unique_ptr<FolderDialog> createFolderDialog();

// The chooser's answer: its first line without the line break, or nullopt
// when empty or followed by more lines. Pure; for tests.
std::optional<std::string> chooserAnswer(const std::string& output);

}  // namespace tavolen::platform
