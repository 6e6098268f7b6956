// Fetching the latest HPO release into a cache directory.
//
// The cache is one file, `<cache_dir>/hp.json`. When it exists it is used as
// it stands, whatever it holds; when it is missing the latest release is
// downloaded by an external program, `curl` or failing that `wget`, into
// `<cache_dir>/hp.json.tmp` and renamed into place only after the program
// exited with status 0. A reader therefore never sees a half-written
// `hp.json`: it is either absent or complete (rename is atomic).
//
// Downloads into one directory are serialized across threads and processes
// by an advisory lock (flock) on `<cache_dir>/hp.json.lock`. Without it, two
// processes that miss the cache at the same moment (a pool of workers
// starting up) would both write `hp.json.tmp`, and one could rename a file
// the other is still writing into place, leaving a corrupted cache that every
// later call reuses. After taking the lock the cache is checked again, so the
// processes that waited reuse the first one's download. The lock file is left
// in place: deleting it would let a late opener lock a different inode. When
// the lock cannot be had at all (no permission on the file, a file system
// without flock) the fetch goes ahead unlocked rather than failing. The wait
// for a lock that another process holds is bounded (kLockWaitLimit), so a
// process that hangs while holding it cannot block every later fetch. The
// lock path is opened without following links, and anything there but a
// regular file is refused: a link planted in a shared cache directory must
// not make the fetch create or lock a file elsewhere.
//
// Nothing that stands at `hp.json.tmp` is written through: after the lock is
// taken it is removed, so each download writes a fresh file.
//
// The programs are started by start_child (child_process.hpp): found on PATH,
// given an argv array (no shell ever sees any part of `cache_dir`), the
// environment and the standard streams of this process inherited, and killed
// by the kernel if the fetching thread dies, so that an orphaned download
// never writes on.
//
// Interruption. This code holds no interpreter lock, so other threads of the
// host keep running while a download is waited for. A Ctrl-C in a terminal
// sends SIGINT to the whole foreground process group, so the download program
// dies of it; a program killed by SIGINT ends the fetch at once (`wget` is
// not tried after an interrupted `curl`), the temporary file is removed and
// the error below is returned. A host that handles signals itself can also
// pass a FetchCancel: it is asked whenever a signal interrupts one of the
// fetch's waits (the lock or the running program) and before `wget` is
// started; when it answers true, a running program is killed and reaped, the
// temporary file is removed, the lock is released and the fetch ends.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "base/result.hpp"

namespace corvanta {

// The latest release, as named by the OBO persistent-URL service.
inline constexpr std::string_view kReleaseUrl = "https://purl.obolibrary.org/obo/hp.json";

// How long a fetch waits for the cache's lock while another process holds it.
inline constexpr std::chrono::milliseconds kLockWaitLimit = std::chrono::minutes(10);

// Called on the fetching thread (never from a signal handler), with no lock
// of this code held, each time the fetch may stop early. A Python host would
// take the interpreter lock, run its pending signal handlers and answer
// whether one raised.
struct FetchCancel {
  bool (*should_abandon)(void* context) = nullptr;
  void* context = nullptr;

  [[nodiscard]] bool asks_to_abandon() const {
    return should_abandon != nullptr && should_abandon(context);
  }
};

// Makes sure `cache_dir/hp.json` exists (creating `cache_dir` with its
// parents, downloading the release when the file is missing) and returns its
// path: std::filesystem::path(cache_dir) / "hp.json", as text. An empty
// `cache_dir` is the current directory. Building the matcher from the file
// is the caller's next step.
//
// Errors are Errc::kReleaseFetch; the message is the whole text a caller
// shows, "failed to fetch/cache the HPO release: " followed by one of
//   "failed to create cache directory " + cache_dir
//       (also for a `cache_dir` containing NUL, which names no directory)
//   "failed to download " + kReleaseUrl + " - neither curl nor wget
//       succeeded (is one installed and is there network access?)"
//   "failed to move downloaded file into place at " + target path
//   "download of " + kReleaseUrl + " interrupted"
//   "the cache's lock " + lock path + " is not a regular file"
//   "another process holds the cache's lock " + lock path +
//       " and did not release it in time"  (after `lock_wait_limit`)
//   "failed to remove " + temporary path + " before downloading"
// The operating-system error beneath a failure, if any, is in `cause` only.
//
// Blocks for as long as the download takes, and for at most
// `lock_wait_limit` before it while another process holds the lock;
// thread-safe, no global state.
[[nodiscard]] Result<std::string> fetch_release(
    std::string_view cache_dir, FetchCancel cancel = {},
    std::chrono::milliseconds lock_wait_limit = kLockWaitLimit);

}  // namespace corvanta
