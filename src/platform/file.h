#pragma once
// A plain writable file for the recorder: appends at the end, patches bytes in
// place, truncates back after a failed write, and pushes data to the disk.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavolen::platform {

struct ConstBuffer {
  const void* data;
  size_t size;
};

class WritableFile {
 public:
  WritableFile() = default;
  ~WritableFile();
  WritableFile(const WritableFile&) = delete;
  WritableFile& operator=(const WritableFile&) = delete;

  // Creates path (or truncates an existing file) for writing; false on failure.
  bool create(const std::string& path);
  bool isOpen() const { return fd_ >= 0; }
  static constexpr int kMaxBuffers = 16;
  // Writes up to kMaxBuffers buffers, in order, at the current end; false
  // unless all bytes went out (a partial write stays in the file: see truncate).
  bool append(const ConstBuffer* buffers, int count);
  // Overwrites size bytes at offset without moving the end.
  bool writeAt(uint64_t offset, const void* data, size_t size);
  // Cuts the file to size bytes and makes that the end.
  bool truncate(uint64_t size);
  // Pushes written data and sizes to the storage device.
  bool syncData();
  void close();

  uint64_t end() const { return end_; }

 private:
  int fd_ = -1;
  uint64_t end_ = 0;
};

// What lies at path, without following a final symbolic link (a link to a
// folder is Other).
enum class EntryKind { Missing, Folder, Other };
EntryKind entryKind(const std::string& path);

// Identity of the entry at path (a link's own, not its target's).
struct FileIdentity {
  uint64_t device;
  uint64_t inode;
  bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> fileIdentity(const std::string& path);

// A folder held open, so that what is listed and removed in it stays in that
// folder even if a path on the way is swapped for a link meanwhile. Nothing
// here follows a symbolic link.
class Folder {
 public:
  struct Entry {
    std::string name;
    EntryKind kind;
    FileIdentity id;
  };

  Folder() = default;
  ~Folder();
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // Opens a real folder; not a link to one. isOpen() tells.
  static Folder open(const std::string& path);
  Folder openChild(const std::string& name) const;
  bool isOpen() const { return fd_ >= 0; }
  // Every entry but "." and "..".
  std::vector<Entry> list() const;
  // Removes a non-folder entry (a link as a link) or an empty folder.
  bool removeFile(const std::string& name) const;
  bool removeFolder(const std::string& name) const;

 private:
  explicit Folder(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Removes an empty real folder (never a link); false on failure.
bool removeEmptyFolder(const std::string& path);

// Size of the file at path, or -1 when it cannot be opened.
int64_t fileLength(const std::string& path);
// Removes a plain file (never a folder); false on failure.
bool deleteFile(const std::string& path);

}  // namespace tavolen::platform
