#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

namespace tavolen::platform {

WritableFile::~WritableFile() { close(); }

bool WritableFile::create(const std::string& path) {
  close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  end_ = 0;
  return fd_ >= 0;
}

bool WritableFile::append(const ConstBuffer* buffers, int count) {
  iovec iov[kMaxBuffers];
  if (fd_ < 0 || count < 0 || count > kMaxBuffers) return false;
  size_t total = 0;
  for (int i = 0; i < count; ++i) {
    iov[i].iov_base = const_cast<void*>(buffers[i].data);
    iov[i].iov_len = buffers[i].size;
    total += buffers[i].size;
  }
  int first = 0;
  while (total > 0) {
    const ssize_t n = ::pwritev(fd_, iov + first, count - first, static_cast<off_t>(end_));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    end_ += static_cast<uint64_t>(n);
    total -= static_cast<size_t>(n);
    size_t left = static_cast<size_t>(n);
    while (first < count && left >= iov[first].iov_len) {
      left -= iov[first].iov_len;
      ++first;
    }
    if (first < count) {
      iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
      iov[first].iov_len -= left;
    }
  }
  return true;
}

bool WritableFile::writeAt(uint64_t offset, const void* data, size_t size) {
  if (fd_ < 0) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool WritableFile::truncate(uint64_t size) {
  if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0) return false;
  end_ = size;
  return true;
}

bool WritableFile::syncData() { return fd_ >= 0 && ::fdatasync(fd_) == 0; }

void WritableFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  end_ = 0;
}

EntryKind entryKind(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return EntryKind::Missing;
  return S_ISDIR(st.st_mode) ? EntryKind::Folder : EntryKind::Other;
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

Folder::~Folder() {
  if (fd_ >= 0) ::close(fd_);
}

Folder::Folder(Folder&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Folder Folder::open(const std::string& path) {
  return Folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

Folder Folder::openChild(const std::string& name) const {
  if (fd_ < 0) return Folder();
  return Folder(::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

std::vector<Folder::Entry> Folder::list() const {
  std::vector<Entry> entries;
  if (fd_ < 0) return entries;
  // fdopendir takes the descriptor it is given; list through a copy.
  const int copy = ::dup(fd_);
  if (copy < 0) return entries;
  DIR* dir = ::fdopendir(copy);
  if (!dir) {
    ::close(copy);
    return entries;
  }
  ::rewinddir(dir);
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(fd_, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    entries.push_back(Entry{name, S_ISDIR(st.st_mode) ? EntryKind::Folder : EntryKind::Other,
                            FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}});
  }
  ::closedir(dir);
  return entries;
}

bool Folder::removeFile(const std::string& name) const {
  return fd_ >= 0 && ::unlinkat(fd_, name.c_str(), 0) == 0;
}

bool Folder::removeFolder(const std::string& name) const {
  return fd_ >= 0 && ::unlinkat(fd_, name.c_str(), AT_REMOVEDIR) == 0;
}

bool removeEmptyFolder(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

int64_t fileLength(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  const int r = ::fstat(fd, &st);
  ::close(fd);
  return r == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool deleteFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

}  // namespace tavolen::platform
