#pragma once
// File-system queries the recording tree needs: free space of the disk holding
// a path, the mount that holds it, and a folder's creation time. Recording code
// takes a Disk& so that tests can set the free space and creation times.

#include <cstdint>
#include <optional>
#include <string>

namespace tavolen::platform {

class Disk {
 public:
  virtual ~Disk() = default;
  // Free bytes of the whole file system holding path (blocks free, including
  // those kept for the superuser); nullopt when the query fails.
  virtual std::optional<uint64_t> freeBytes(const std::string& path);
  // Creation (birth) time in seconds since 1970 without following a final
  // symbolic link; the change time where the file system keeps no birth time;
  // 0 when the status cannot be read.
  virtual int64_t creationTime(const std::string& path);
  // The mount point of the file system holding path, found by walking up to
  // the last ancestor on the same device; path itself when nothing can be read.
  virtual std::string mountRoot(const std::string& path);
};

// The real file system; one instance per process, callable from any thread.
Disk& systemDisk();

}  // namespace tavolen::platform
