#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace mossbank {

Status write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return os_failure(errno);
    if (n == 0) return os_failure(EIO);
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return ok_status();
}

std::optional<std::string> read_file(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string out;
  char buf[8192];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return out;
}

namespace {

Status directory_or_not(const struct stat& st) {
  return S_ISDIR(st.st_mode) ? ok_status() : os_failure(ENOTDIR);
}

}  // namespace

Status make_directories(const std::string& path, mode_t mode) {
  if (path.empty()) return ok_status();
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return directory_or_not(st);
  for (size_t pos = 0;;) {
    pos = path.find('/', pos + 1);
    std::string part = path.substr(0, pos);
    if (!part.empty() && mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
      return os_failure(errno);
    if (pos == std::string::npos) break;
  }
  if (stat(path.c_str(), &st) != 0) return os_failure(errno);
  return directory_or_not(st);
}

}  // namespace mossbank
