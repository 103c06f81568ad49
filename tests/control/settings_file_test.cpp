// Tavolen.ini: where it lives, what loading and SetRecordProperty write, and
// the folder chooser behind SetPath.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <future>

#include "control/settings_file.h"
#include "control_support.h"
#include "platform/folder_dialog.h"
#include "support/wait_until.h"

namespace {

using namespace tavolen;
using ctltest::EnvOverride;
using ctltest::readText;
using ctltest::ScratchFolder;
using ctltest::writeText;

TEST(SettingsFile, Location) {
  struct Case {
    std::optional<std::string> override;
    std::optional<std::string> xdg;
    std::string expected;
  } cases[] = {
      {"/t/own.ini", "/cfg", "/t/own.ini"},
      {std::nullopt, "/cfg", "/cfg/tavolen/Tavolen.ini"},
      {"", "/cfg", "/cfg/tavolen/Tavolen.ini"},
      {std::nullopt, "relative/cfg", "/home/u/.config/tavolen/Tavolen.ini"},
      {std::nullopt, std::nullopt, "/home/u/.config/tavolen/Tavolen.ini"},
  };
  EnvOverride home("HOME", "/home/u");
  for (const Case& c : cases) {
    EnvOverride o(kSettingsFileVariable, c.override);
    EnvOverride x("XDG_CONFIG_HOME", c.xdg);
    EXPECT_EQ(SettingsFile::locate(), c.expected);
  }
}

TEST(SettingsFile, FirstLoadWritesTheHomeFolderOnly) {
  ScratchFolder dir;
  EnvOverride home("HOME", "/home/viewer");
  const SettingsFile settings(dir.file("cfg/Tavolen.ini"));
  ControlProperties p;
  settings.loadSettings(p);
  EXPECT_EQ(p.RecFilePath, "/home/viewer");
  EXPECT_EQ(p.RecFileLen, 100);
  EXPECT_EQ(p.RecTimeLen, 5);
  EXPECT_EQ(p.ReservedSpace, 200);
  EXPECT_EQ(p.RecCover, 0);
  EXPECT_TRUE(p.modified);
  EXPECT_EQ(readText(settings.path()), "[PATH]\nSETPATH=/home/viewer\n");
}

TEST(SettingsFile, LoadTakesValuesAsTheyStand) {
  ScratchFolder dir;
  writeText(dir.file("Tavolen.ini"),
            "[other]\nkeep=1\n[PATH]\nSETPATH=/rec\nFILELEN=10\nTIMELEN=-3\nRESERVEDSPACE=20\nCOVER=9\n");
  const std::string before = readText(dir.file("Tavolen.ini"));
  const SettingsFile settings(dir.file("Tavolen.ini"));
  ControlProperties p;
  settings.loadSettings(p);
  EXPECT_EQ(p.RecFilePath, "/rec");
  EXPECT_EQ(p.RecFileLen, 10);
  EXPECT_EQ(p.RecTimeLen, -3);
  EXPECT_EQ(p.ReservedSpace, 20);
  EXPECT_EQ(p.RecCover, 9);
  EXPECT_EQ(readText(dir.file("Tavolen.ini")), before);
}

TEST(SettingsFile, EmptySetPathIsReplacedAndLongOnesAreCut) {
  ScratchFolder dir;
  EnvOverride home("HOME", "/h");
  writeText(dir.file("a.ini"), "[PATH]\nSETPATH=\nCOVER=1\n");
  ControlProperties p;
  SettingsFile(dir.file("a.ini")).loadSettings(p);
  EXPECT_EQ(p.RecFilePath, "/h");
  EXPECT_EQ(readText(dir.file("a.ini")), "[PATH]\nSETPATH=/h\nCOVER=1\n");

  const std::string longFolder = "/" + std::string(300, 'd');
  writeText(dir.file("b.ini"), "[PATH]\nSETPATH=" + longFolder + "\n");
  const SettingsFile b(dir.file("b.ini"));
  EXPECT_EQ(b.readRecordFolder(), longFolder.substr(0, kSetPathMaxBytes));
}

TEST(SettingsFile, SetRecordPropertyAppliesMinimumsAndWrites) {
  struct Case {
    int32_t in[4];
    int32_t out[4];
  } cases[] = {
      {{50, 0, 1000, 7}, {100, 5, 1000, 7}},
      {{101, 6, 201, 0}, {101, 6, 201, 0}},
      {{100, 5, 200, -1}, {100, 5, 200, -1}},
      {{-2147483647 - 1, -1, -200, 3}, {100, 5, 200, 3}},
  };
  for (const Case& c : cases) {
    ScratchFolder dir;
    const SettingsFile settings(dir.file("Tavolen.ini"));
    ControlProperties p;
    settings.SetRecordProperty(p, c.in[0], c.in[1], c.in[2], c.in[3]);
    EXPECT_EQ(p.RecFileLen, c.out[0]);
    EXPECT_EQ(p.RecTimeLen, c.out[1]);
    EXPECT_EQ(p.ReservedSpace, c.out[2]);
    EXPECT_EQ(p.RecCover, c.out[3]);
    EXPECT_EQ(readText(settings.path()),
              "[PATH]\nFILELEN=" + std::to_string(c.out[0]) + "\nTIMELEN=" + std::to_string(c.out[1]) +
                  "\nRESERVEDSPACE=" + std::to_string(c.out[2]) + "\nCOVER=" + std::to_string(c.out[3]) +
                  "\n");
  }
}

TEST(SettingsFile, UnwritableFileStillChangesTheProperties) {
  ScratchFolder dir;
  writeText(dir.file("plain"), "not a folder");
  const SettingsFile settings(dir.file("plain/Tavolen.ini"));  // its folder is a file
  ControlProperties p;
  settings.SetRecordProperty(p, 150, 10, 300, 1);
  EXPECT_EQ(p.RecFileLen, 150);
  EXPECT_EQ(p.RecCover, 1);
  settings.storeFolder(p, "/elsewhere");
  EXPECT_EQ(p.RecFilePath, "/elsewhere");
  EXPECT_EQ(settings.readRecordFolder(), "");
}

TEST(FolderDialog, AnswerIsOneNonEmptyLine) {
  struct Case {
    std::string output;
    std::optional<std::string> answer;
  } cases[] = {
      {"/srv/rec\n", "/srv/rec"}, {"/srv/rec", "/srv/rec"},   {"/a b/c\r\n", "/a b/c"},
      {"\n", std::nullopt},       {"", std::nullopt},          {"/a\n/b\n", std::nullopt},
      {std::string("/a\0b\n", 5), std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::chooserAnswer(c.output), c.answer) << c.output;
}

TEST(FolderDialog, RunsTheCommandOfTheVariable) {
  struct Case {
    const char* command;
    std::optional<std::string> answer;
  } cases[] = {
      {"echo /srv/recordings", "/srv/recordings"},
      {"printf '/with space/x'", "/with space/x"},
      {"echo /srv/x; exit 1", std::nullopt},  // refused
      {"true", std::nullopt},                 // closed without a choice
      {"echo /a; echo /b", std::nullopt},
      {"/no/such/chooser", std::nullopt},
  };
  for (const Case& c : cases) {
    EnvOverride o(platform::kFolderDialogVariable, c.command);
    EXPECT_EQ(platform::createFolderDialog()->choose("Selection"), c.answer) << c.command;
  }
}

TEST(FolderDialog, NoDisplayAndNoCommandIsCancelled) {
  EnvOverride o(platform::kFolderDialogVariable, std::nullopt);
  EnvOverride x("DISPLAY", std::nullopt);
  EnvOverride w("WAYLAND_DISPLAY", std::nullopt);
  EXPECT_EQ(platform::createFolderDialog()->choose("Selection"), std::nullopt);
}

TEST(FolderDialog, CancelEndsAChooserThatNeverAnswers) {
  ScratchFolder dir;
  const std::string started = dir.file("started");
  EnvOverride o(platform::kFolderDialogVariable, "touch '" + started + "'; sleep 600; echo /late");
  auto dialog = platform::createFolderDialog();
  auto answer = std::async(std::launch::async, [&] { return dialog->choose("Selection"); });
  ASSERT_TRUE(tavolen::test::waitUntil([&] { return std::filesystem::exists(started); }, 10000));
  dialog->cancel();
  EXPECT_EQ(answer.get(), std::nullopt);  // would hang for 600 s without the cancel
  EXPECT_EQ(dialog->choose("Selection"), std::nullopt);  // and stays cancelled
}

}  // namespace
