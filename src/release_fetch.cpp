// Release fetching: cache check, advisory lock, external download, rename.
//
// Every wait here (flock, waitpid) retries on EINTR, because a host such as
// Python installs its signal handlers without SA_RESTART and a stray signal
// must not look like a failed download; the caller's FetchCancel decides
// whether an interruption ends the fetch. A download program's exit status is
// the only thing read from it: success is "started and exited with 0".
#include "release_fetch.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <system_error>

extern char** environ;

namespace corvanta {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kReleaseName = "hp.json";
constexpr std::string_view kTemporaryName = "hp.json.tmp";
constexpr std::string_view kLockName = "hp.json.lock";
constexpr std::string_view kFetchFailed = "failed to fetch/cache the HPO release: ";

enum class RunOutcome : uint8_t { kSucceeded, kFailed, kInterrupted };

std::string os_error_text(int err) {
  return std::generic_category().message(err) + " (os error " + std::to_string(err) + ")";
}

Error fetch_error(std::string_view cause_text, std::string os_detail = {}) {
  std::string message(kFetchFailed);
  message += cause_text;
  return Error{Errc::kReleaseFetch, std::move(message), std::move(os_detail)};
}

Error download_failed() {
  std::string text = "failed to download ";
  text += kReleaseUrl;
  text += " - neither curl nor wget succeeded (is one installed and is there network access?)";
  return fetch_error(text);
}

Error download_interrupted() {
  std::string text = "download of ";
  text += kReleaseUrl;
  text += " interrupted";
  return fetch_error(text);
}

// An empty text names the current directory, which exists.
std::error_code create_cache_dir(std::string_view cache_dir) {
  std::error_code ec;
  if (!cache_dir.empty()) fs::create_directories(fs::path(cache_dir), ec);
  return ec;
}

// "Exists" means the metadata query succeeds, symbolic links followed; a
// dangling link or an unsearchable directory counts as a miss.
bool path_exists(const fs::path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// The advisory lock on `hp.json.lock`, held from acquire() to destruction.
// flock belongs to the open file description, so two threads of one process
// exclude each other as two processes do. The unlock is explicit because a
// process forked by another thread of the host shares the description and
// would otherwise keep the lock alive after our close().
class CacheLock {
 public:
  enum class Outcome : uint8_t { kHeld, kUnavailable, kAbandoned };

  CacheLock() = default;
  CacheLock(const CacheLock&) = delete;
  CacheLock& operator=(const CacheLock&) = delete;
  ~CacheLock() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }

  Outcome acquire(const fs::path& path, const FetchCancel& cancel) {
    // Read-only is enough for flock and lets a user who may not write a lock
    // file created by someone else still take part in the locking.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd_ < 0) return Outcome::kUnavailable;
    while (::flock(fd_, LOCK_EX) != 0) {
      const bool interrupted = errno == EINTR;
      if (interrupted && !cancel.asks_to_abandon()) continue;
      ::close(fd_);
      fd_ = -1;
      return interrupted ? Outcome::kAbandoned : Outcome::kUnavailable;
    }
    return Outcome::kHeld;
  }

 private:
  int fd_ = -1;
};

class SpawnAttributes {
 public:
  SpawnAttributes() {
    if (::posix_spawnattr_init(&attr_) != 0) return;
    initialized_ = true;
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    // The spawning thread may block signals that the program must see.
    sigset_t mask;
    sigemptyset(&mask);
    const short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    valid_ = ::posix_spawnattr_setsigdefault(&attr_, &defaults) == 0 &&
             ::posix_spawnattr_setsigmask(&attr_, &mask) == 0 &&
             ::posix_spawnattr_setflags(&attr_, flags) == 0;
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  ~SpawnAttributes() {
    if (initialized_) ::posix_spawnattr_destroy(&attr_);
  }

  // Null when the attributes could not be set up; the program is then not
  // started, which counts as its failure.
  [[nodiscard]] const posix_spawnattr_t* get() const { return valid_ ? &attr_ : nullptr; }

 private:
  posix_spawnattr_t attr_;
  bool initialized_ = false;
  bool valid_ = false;
};

// Waits for `pid`, ignoring interruptions; used once the outcome no longer
// matters but the child must not be left a zombie.
void reap(pid_t pid) {
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

RunOutcome run(const char* const argv[], const FetchCancel& cancel) {
  const SpawnAttributes attributes;
  if (attributes.get() == nullptr) return RunOutcome::kFailed;
  pid_t pid;
  // posix_spawnp never writes through argv; the cast is its C signature.
  if (::posix_spawnp(&pid, argv[0], nullptr, attributes.get(), const_cast<char* const*>(argv),
                     environ) != 0) {
    return RunOutcome::kFailed;
  }
  int status;
  for (;;) {
    if (::waitpid(pid, &status, 0) == pid) break;
    // ECHILD (a host that ignores SIGCHLD reaps for us) loses the status.
    if (errno != EINTR) return RunOutcome::kFailed;
    if (cancel.asks_to_abandon()) {
      // SIGKILL, not SIGTERM: the program keeps nothing worth cleaning up,
      // and the caller was promised a prompt end.
      ::kill(pid, SIGKILL);
      reap(pid);
      return RunOutcome::kInterrupted;
    }
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return RunOutcome::kSucceeded;
  // Death by SIGINT is Ctrl-C, which a terminal sends to the whole
  // foreground process group, this process included: the user wants the
  // fetch to stop, not a second program starting a fresh download.
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) return RunOutcome::kInterrupted;
  return RunOutcome::kFailed;
}

RunOutcome download(const std::string& temporary, const FetchCancel& cancel) {
  const std::string url(kReleaseUrl);
  const char* const curl[] = {"curl", "-L", "--fail", "--silent", "--show-error",
                              "-o",   temporary.c_str(), url.c_str(), nullptr};
  const RunOutcome by_curl = run(curl, cancel);
  if (by_curl != RunOutcome::kFailed) return by_curl;
  if (cancel.asks_to_abandon()) return RunOutcome::kInterrupted;
  const char* const wget[] = {"wget", "--quiet", "-O", temporary.c_str(), url.c_str(), nullptr};
  return run(wget, cancel);
}

}  // namespace

Result<std::string> fetch_release(std::string_view cache_dir, FetchCancel cancel) {
  std::string cannot_create = "failed to create cache directory ";
  cannot_create += cache_dir;
  // A NUL would silently cut every path below short at the system call.
  if (cache_dir.find('\0') != std::string_view::npos) {
    return fetch_error(cannot_create, "path contains a NUL character");
  }
  if (const std::error_code ec = create_cache_dir(cache_dir)) {
    return fetch_error(cannot_create, os_error_text(ec.value()));
  }
  const fs::path dir(cache_dir);
  const fs::path target = dir / kReleaseName;
  // A present file is complete (it only ever appears by rename), so the
  // common case needs no lock.
  if (path_exists(target)) return target.string();

  CacheLock lock;
  if (lock.acquire(dir / kLockName, cancel) == CacheLock::Outcome::kAbandoned) {
    return download_interrupted();
  }
  // Another process may have finished the download while we waited.
  if (path_exists(target)) return target.string();

  const fs::path temporary = dir / kTemporaryName;
  const RunOutcome outcome = download(temporary.string(), cancel);
  if (outcome != RunOutcome::kSucceeded) {
    ::unlink(temporary.c_str());
    return outcome == RunOutcome::kInterrupted ? download_interrupted() : download_failed();
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int err = errno;
    std::string text = "failed to move downloaded file into place at ";
    text += target.string();
    return fetch_error(text, os_error_text(err));
  }
  return target.string();
}

}  // namespace corvanta
