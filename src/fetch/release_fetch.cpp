// Release fetching: cache check, advisory lock, external download, rename.
//
// Every wait here (the pause between tries of the lock, waitpid) goes on
// after EINTR, because a host such as Python installs its signal handlers
// without SA_RESTART and a stray signal must not look like a failed download;
// the caller's FetchCancel decides whether an interruption ends the fetch.
// A download program's exit status is the only thing read from it: success
// is "started and exited with 0".
#include "fetch/release_fetch.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "fetch/child_process.hpp"

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

Error lock_not_a_file(const fs::path& lock) {
  return fetch_error("the cache's lock " + lock.string() + " is not a regular file");
}

Error lock_held_elsewhere(const fs::path& lock) {
  return fetch_error("another process holds the cache's lock " + lock.string() +
                     " and did not release it in time");
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
  enum class Outcome : uint8_t { kHeld, kUnavailable, kNotAFile, kTimedOut, kAbandoned };

  CacheLock() = default;
  CacheLock(const CacheLock&) = delete;
  CacheLock& operator=(const CacheLock&) = delete;
  ~CacheLock() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }

  Outcome acquire(const fs::path& path, const FetchCancel& cancel,
                  std::chrono::milliseconds wait_limit) {
    const Outcome outcome = open_and_lock(path, cancel, wait_limit);
    if (outcome != Outcome::kHeld && fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
    return outcome;
  }

 private:
  // The lock is tried again at this interval while another holder has it.
  static constexpr std::chrono::milliseconds kRetryInterval{50};

  Outcome open_and_lock(const fs::path& path, const FetchCancel& cancel,
                        std::chrono::milliseconds wait_limit) {
    // Read-only is enough for flock and lets a user who may not write a lock
    // file created by someone else still take part in the locking. A link
    // planted at the path is not followed (it would make this create or
    // lock a file elsewhere), and O_NONBLOCK keeps a planted FIFO from
    // holding the open up.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY,
                 0666);
    struct stat info;
    if (fd_ < 0) {
      const bool something_else = ::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
      return something_else ? Outcome::kNotAFile : Outcome::kUnavailable;
    }
    if (::fstat(fd_, &info) != 0) return Outcome::kUnavailable;
    if (!S_ISREG(info.st_mode)) return Outcome::kNotAFile;
    const auto deadline = std::chrono::steady_clock::now() + wait_limit;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) return Outcome::kUnavailable;
      const auto left = deadline - std::chrono::steady_clock::now();
      if (left <= left.zero()) return Outcome::kTimedOut;
      const auto pause = std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::min<std::chrono::steady_clock::duration>(left, kRetryInterval));
      const timespec interval = {static_cast<time_t>(pause.count() / 1'000'000'000),
                                 static_cast<long>(pause.count() % 1'000'000'000)};
      if (::nanosleep(&interval, nullptr) != 0 && errno == EINTR && cancel.asks_to_abandon()) {
        return Outcome::kAbandoned;
      }
    }
    return Outcome::kHeld;
  }

  int fd_ = -1;
};

// Waits for `pid`, ignoring interruptions; used once the outcome no longer
// matters but the child must not be left a zombie.
void reap(pid_t pid) {
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

RunOutcome run(const char* const argv[], const FetchCancel& cancel) {
  const pid_t pid = start_child(argv);
  if (pid < 0) return RunOutcome::kFailed;
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
  const char* const curl[] = {"curl",         "-L", "--fail",          "--silent",
                              "--show-error", "-o", temporary.c_str(), url.c_str(),
                              nullptr};
  const RunOutcome by_curl = run(curl, cancel);
  if (by_curl != RunOutcome::kFailed) return by_curl;
  if (cancel.asks_to_abandon()) return RunOutcome::kInterrupted;
  const char* const wget[] = {"wget", "--quiet", "-O", temporary.c_str(), url.c_str(), nullptr};
  return run(wget, cancel);
}

}  // namespace

Result<std::string> fetch_release(std::string_view cache_dir, FetchCancel cancel,
                                  std::chrono::milliseconds lock_wait_limit) {
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
  const fs::path lock_path = dir / kLockName;
  switch (lock.acquire(lock_path, cancel, lock_wait_limit)) {
    case CacheLock::Outcome::kHeld:
    case CacheLock::Outcome::kUnavailable:
      break;
    case CacheLock::Outcome::kNotAFile:
      return lock_not_a_file(lock_path);
    case CacheLock::Outcome::kTimedOut:
      return lock_held_elsewhere(lock_path);
    case CacheLock::Outcome::kAbandoned:
      return download_interrupted();
  }
  // Another process may have finished the download while we waited.
  if (path_exists(target)) return target.string();

  // The programs open the temporary path following links and write into
  // whatever file stands there, so whatever does (a planted link, a hard
  // link to a file elsewhere, a file an orphaned download still writes) is
  // removed first: each download writes a fresh file of its own.
  const fs::path temporary = dir / kTemporaryName;
  if (::unlink(temporary.c_str()) != 0 && errno != ENOENT) {
    const int err = errno;
    return fetch_error("failed to remove " + temporary.string() + " before downloading",
                       os_error_text(err));
  }
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
