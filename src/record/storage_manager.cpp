#include "record/storage_manager.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "record/avi_recorder.h"

namespace tavolen {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kMeasureIntervalMs = 5000;
// Folders nested deeper than this below a day folder are left alone, which
// bounds the recursion and the folders held open at once.
constexpr int kMaxTreeDepth = 32;

struct InUse {
  platform::FileIdentity id;
  std::string path;
};

std::mutex inUseLock;
std::vector<InUse> inUse;  // guarded by inUseLock

bool isInUse(const platform::FileIdentity& id) {
  std::lock_guard<std::mutex> guard(inUseLock);
  return std::any_of(inUse.begin(), inUse.end(), [&](const InUse& f) { return f.id == id; });
}

}  // namespace

void markFileInUse(const std::string& path) {
  const std::optional<platform::FileIdentity> id = platform::fileIdentity(path);
  if (!id) return;
  std::lock_guard<std::mutex> guard(inUseLock);
  inUse.push_back(InUse{*id, path});
}

void unmarkFileInUse(const std::string& path) {
  std::lock_guard<std::mutex> guard(inUseLock);
  const auto it = std::find_if(inUse.begin(), inUse.end(), [&](const InUse& f) { return f.path == path; });
  if (it != inUse.end()) inUse.erase(it);
}

namespace {

// Empties folder, depth first. Entries are removed through the open folder,
// so a folder swapped for a link while the pass runs is never followed.
void deleteInside(const platform::Folder& folder, int depth) {
  for (const platform::Folder::Entry& e : folder.list()) {
    if (e.kind == platform::EntryKind::Folder) {
      if (depth + 1 >= kMaxTreeDepth) continue;  // left in place, like any failure
      const platform::Folder child = folder.openChild(e.name);
      if (!child.isOpen()) continue;
      deleteInside(child, depth + 1);
      folder.removeFolder(e.name);  // fails, harmlessly, while anything is left inside
    } else if (!isInUse(e.id)) {
      folder.removeFile(e.name);  // a link goes as a link, its target stays
    }
  }
}

}  // namespace

void deleteTree(const std::string& folder) {
  const platform::Folder root = platform::Folder::open(folder);
  if (!root.isOpen()) return;
  deleteInside(root, 0);
  platform::removeEmptyFolder(folder);
}

std::string deleteOldestDayFolder(const std::string& recordPath, platform::Disk& disk) {
  const fs::path root = fs::path(recordPath) / "RecordFiles";
  std::vector<std::pair<int64_t, std::string>> days;
  std::error_code ec;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string path = it->path().string();
    // Only real folders: plain files and links lying in RecordFiles stay.
    if (platform::entryKind(path) != platform::EntryKind::Folder) continue;
    days.emplace_back(disk.creationTime(path), path);
  }
  if (days.empty()) return {};
  const auto oldest = std::min_element(days.begin(), days.end());
  deleteTree(oldest->second);
  return oldest->second;
}

void storageThreadMain(CAviRecorder& r) {
  if (r.stopStorage_.load()) return;
  for (;;) {
    r.measureFreeSpace();
    if (r.freeMB_.load() < r.reservedMB_ && r.coverMode_) deleteOldestDayFolder(r.recordPath_, r.disk_);
    if (r.storageWake_.wait(kMeasureIntervalMs, r.time_) || r.stopStorage_.load()) return;
  }
}

}  // namespace tavolen
