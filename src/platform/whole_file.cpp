#include "platform/whole_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

namespace tavolen::platform {

namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

ReadResult readFd(int fd, size_t maxBytes, std::string& out) {
  out.clear();
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ReadResult::Failed;
    }
    if (n == 0) return ReadResult::Ok;
    if (out.size() + static_cast<size_t>(n) > maxBytes) {
      out.append(buffer, maxBytes - out.size());
      return ReadResult::TooLarge;
    }
    out.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace

ReadResult readWholeFile(const std::string& path, size_t maxBytes, std::string& out) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Failed;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return ReadResult::Failed;
  if (!S_ISREG(st.st_mode)) return ReadResult::Failed;
  return readFd(fd.get(), maxBytes, out);
}

bool updateWholeFile(const std::string& path, size_t maxBytes,
                     const std::function<std::optional<std::string>(const std::string&)>& change) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path target(path);
  // Replace what a link points at, not the link: the user put it there.
  for (int hops = 0; hops < 8 && fs::is_symlink(target, ec); ++hops) {
    const fs::path next = fs::read_symlink(target, ec);
    if (ec) return false;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  fs::create_directories(folder, ec);
  if (ec) return false;

  // Each caller opens the folder anew, so the flock serialises threads of
  // this process as well as other processes.
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return false;
  while (::flock(dir.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }

  std::string current;
  mode_t mode = 0644;
  switch (readWholeFile(target.string(), maxBytes, current)) {
    case ReadResult::Ok: {
      struct stat st {};
      if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
      break;
    }
    case ReadResult::Missing:
      current.clear();
      break;
    case ReadResult::TooLarge:
    case ReadResult::Failed:
      return false;
  }
  const std::optional<std::string> next = change(current);
  if (!next) return true;

  std::string temp = target.string() + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  Fd out(::mkstemp(name.data()));
  if (out.get() < 0) return false;
  temp.assign(name.data());
  bool ok = writeAll(out.get(), *next) && ::fchmod(out.get(), mode) == 0 && ::fsync(out.get()) == 0;
  ok = ::close(out.release()) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  ::fsync(dir.get());  // the rename itself reaches the disk
  return true;
}

}  // namespace tavolen::platform
