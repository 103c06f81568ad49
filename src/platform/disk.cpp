#include "platform/disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <filesystem>

namespace tavolen::platform {

std::optional<uint64_t> Disk::freeBytes(const std::string& path) {
  struct statvfs vfs {};
  if (statvfs(path.c_str(), &vfs) != 0) return std::nullopt;
  const uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
  return static_cast<uint64_t>(vfs.f_bfree) * unit;
}

int64_t Disk::creationTime(const std::string& path) {
#ifdef STATX_BTIME
  struct statx sx {};
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &sx) == 0) {
    if (sx.stx_mask & STATX_BTIME) return sx.stx_btime.tv_sec;
    if (sx.stx_mask & STATX_CTIME) return sx.stx_ctime.tv_sec;
  }
#endif
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return 0;
  return st.st_ctim.tv_sec;
}

std::string Disk::mountRoot(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  if (ec) return path;
  // Climb to the deepest ancestor that exists, then up while the device stays.
  struct stat st {};
  while (stat(p.c_str(), &st) != 0) {
    if (!p.has_relative_path()) return path;
    p = p.parent_path();
  }
  const dev_t dev = st.st_dev;
  while (p.has_relative_path()) {
    const std::filesystem::path parent = p.parent_path();
    struct stat up {};
    if (stat(parent.c_str(), &up) != 0 || up.st_dev != dev) break;
    p = parent;
  }
  return p.string();
}

Disk& systemDisk() {
  static Disk disk;
  return disk;
}

}  // namespace tavolen::platform
