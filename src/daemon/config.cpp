#include "daemon/config.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "base/files.h"
#include "base/json.h"
#include "base/random.h"
#include "base/unique_fd.h"
#include "base/utf8.h"
#include "daemon/home.h"

namespace mossbank {

namespace {

bool valid_token(const JsonValue& v) {
  return v.is_string() && utf16_length(v.get_ref<const std::string&>()) >= 16;
}

void tighten_config_mode(const std::string& home) {
  std::string path = home_path(home, "config.json");
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  if ((st.st_mode & 0077) == 0) return;
  while (chmod(path.c_str(), 0600) != 0 && errno == EINTR) {}
}

}  // namespace

std::optional<DaemonConfig> read_config(const std::string& home) {
  auto text = read_file(home_path(home, "config.json"));
  if (!text) return std::nullopt;
  auto value = parse_json(utf8_lossy(*text));
  if (!value || !value->is_object()) return std::nullopt;
  const JsonValue& obj = *value;
  auto port = obj.find("port");
  if (port == obj.end() || !port->is_number()) return std::nullopt;
  double p = port->get<double>();
  if (!(p > 0 && p < 65536) || std::floor(p) != p) return std::nullopt;
  auto token = obj.find("token");
  if (token == obj.end() || !valid_token(*token)) return std::nullopt;
  DaemonConfig cfg;
  cfg.port = static_cast<uint16_t>(p);
  cfg.token = token->get<std::string>();
  auto hook = obj.find("hookToken");
  if (hook != obj.end() && valid_token(*hook) && hook->get_ref<const std::string&>() != cfg.token)
    cfg.hook_token = hook->get<std::string>();
  return cfg;
}

Result<DaemonConfig> ensure_config(const std::string& home, bool private_home) {
  if (auto cfg = read_config(home)) {
    tighten_config_mode(home);
    return *cfg;
  }
  if (Status made = make_directories(home, private_home ? 0700 : 0777); !made) return made;

  UniqueFd dir(open(home.empty() ? "." : home.c_str(), O_RDONLY | O_CLOEXEC));
  if (!dir) return os_failure(errno);
  while (flock(dir.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return os_failure(errno);
  }
  if (auto cfg = read_config(home)) {
    tighten_config_mode(home);
    return *cfg;
  }

  auto token = random_hex(24);
  if (!token) return os_failure(errno);
  auto hook_token = random_hex(24);
  if (!hook_token) return os_failure(errno);
  std::string text = "{\n  \"port\": 4827,\n  \"token\": \"" + *token + "\",\n  \"hookToken\": \"" +
                     *hook_token + "\"\n}\n";

  auto suffix = random_hex(16);
  if (!suffix) return os_failure(errno);
  std::string tmp =
      home_path(home, "config.json." + std::to_string(getpid()) + "." + *suffix + ".tmp");
  Status written;
  {
    UniqueFd file(open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!file) return os_failure(errno);
    written = write_all(file.get(), text);
    while (written && fchmod(file.get(), 0600) != 0) {
      if (errno != EINTR) written = os_failure(errno);
    }
  }
  if (written && rename(tmp.c_str(), home_path(home, "config.json").c_str()) != 0)
    written = os_failure(errno);
  unlink(tmp.c_str());
  if (!written) return written;
  return DaemonConfig{*token, *hook_token, 4827};
}

}  // namespace mossbank
