// fetch_release against fake `curl` and `wget` scripts: no network is used.
// Each fake logs its arguments and then runs a behaviour given as shell code.
//
// Only what the Python binding cannot reach is stated here (a caller's
// FetchCancel, the lock's wait limit); every scenario a caller of
// fetch_latest sees is in the Python suite's table, run against this fetch
// and the toolkit's alike.
#include <doctest/doctest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fetch/release_fetch.hpp"

namespace corvanta {
namespace {

namespace fs = std::filesystem;

using Argv = std::vector<std::string>;

constexpr std::string_view kFetchFailed = "failed to fetch/cache the HPO release: ";

void write_text(const fs::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string fetch_message(std::string_view cause_text) {
  return std::string(kFetchFailed) + std::string(cause_text);
}

std::string interrupted_message() {
  return fetch_message("download of " + std::string(kReleaseUrl) + " interrupted");
}

Argv curl_argv(const fs::path& temporary) {
  return {"-L",
          "--fail",
          "--silent",
          "--show-error",
          "-o",
          temporary.string(),
          std::string(kReleaseUrl)};
}

std::string writes(std::string_view content) {
  return "printf '%s' '" + std::string(content) + "' > \"$out\"";
}

std::string fails_with(int code) {
  return "printf partial > \"$out\"; exit " + std::to_string(code);
}

// A scratch directory whose `bin` is the whole PATH while the object lives.
// The fakes reset PATH for themselves, so the real programs stay out of reach.
class FakeDownloaders {
 public:
  FakeDownloaders() {
    char pattern[] = "/tmp/corvanta_fetch_XXXXXX";
    REQUIRE(::mkdtemp(pattern) != nullptr);
    root_ = pattern;
    fs::create_directory(bin());
    if (const char* path = std::getenv("PATH")) saved_path_ = path;
    ::setenv("PATH", bin().c_str(), 1);
  }
  FakeDownloaders(const FakeDownloaders&) = delete;
  FakeDownloaders& operator=(const FakeDownloaders&) = delete;
  ~FakeDownloaders() {
    ::setenv("PATH", saved_path_.c_str(), 1);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  [[nodiscard]] const fs::path& root() const { return root_; }
  [[nodiscard]] fs::path bin() const { return root_ / "bin"; }

  // In `behaviour`, "$out" is the argument after -o or -O.
  void install(const std::string& name, std::string_view behaviour) const {
    const fs::path script = bin() / name;
    write_text(script,
               "#!/bin/sh\nPATH=/usr/bin:/bin\nlog='" + log(name).string() +
                   "'\n"
                   "printf '%s\\n' \"$#\" >> \"$log\"\n"
                   "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$log\"; done\n"
                   "out=; prev=\n"
                   "for a in \"$@\"; do case $prev in -o|-O) out=$a;; esac; prev=$a; done\n" +
                   std::string(behaviour) + "\n");
    fs::permissions(script, fs::perms::owner_all);
  }

  // One Argv (without the program name) per call, in call order.
  [[nodiscard]] std::vector<Argv> calls(const std::string& name) const {
    std::ifstream in(log(name));
    std::vector<Argv> result;
    std::string line;
    while (std::getline(in, line)) {
      Argv& argv = result.emplace_back();
      for (int n = std::stoi(line); n > 0 && std::getline(in, line); --n) argv.push_back(line);
    }
    return result;
  }

 private:
  [[nodiscard]] fs::path log(const std::string& name) const { return root_ / (name + ".log"); }

  fs::path root_;
  std::string saved_path_;
};

volatile sig_atomic_t g_alarms = 0;

// SIGALRM every few milliseconds, delivered without SA_RESTART as a Python
// host's handlers are, so every blocking wait of the fetch sees EINTR.
class RepeatingAlarm {
 public:
  RepeatingAlarm() {
    g_alarms = 0;
    struct sigaction action = {};
    action.sa_handler = [](int) { g_alarms = g_alarms + 1; };
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, &saved_);
    const itimerval every_20ms = {{0, 20000}, {0, 20000}};
    ::setitimer(ITIMER_REAL, &every_20ms, nullptr);
  }
  RepeatingAlarm(const RepeatingAlarm&) = delete;
  RepeatingAlarm& operator=(const RepeatingAlarm&) = delete;
  ~RepeatingAlarm() {
    const itimerval off = {};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &saved_, nullptr);
  }

 private:
  struct sigaction saved_ = {};
};

bool after_first_alarm(void*) { return g_alarms > 0; }
// Once the file named by `context`, an fs::path, exists.
bool once_written(void* context) { return fs::exists(*static_cast<const fs::path*>(context)); }
bool always(void*) { return true; }

TEST_CASE("an interrupted download ends the fetch without trying wget") {
  const FakeDownloaders fake;
  const fs::path dir = fake.root() / "cache";
  fake.install("wget", writes("by wget"));
  fs::path temporary = dir / "hp.json.tmp";
  FetchCancel cancel;
  std::vector<Argv> expected_curl = {curl_argv(temporary)};
  Result<std::string> fetched = Error{};

  SUBCASE("the caller cancels once curl has failed") {
    fake.install("curl", fails_with(22));
    cancel.should_abandon = always;
    fetched = fetch_release(dir.string(), cancel);
  }
  SUBCASE("the caller cancels while curl runs: it is killed") {
    fake.install("curl", "printf partial > \"$out\"; exec sleep 30");
    // Only once curl has logged its arguments and begun its output.
    cancel.should_abandon = once_written;
    cancel.context = &temporary;
    const RepeatingAlarm alarm;
    fetched = fetch_release(dir.string(), cancel);
  }
  SUBCASE("the caller cancels while another holder has the lock") {
    fake.install("curl", writes("by curl"));
    fs::create_directories(dir);
    const int holder = ::open((dir / "hp.json.lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    REQUIRE(::flock(holder, LOCK_EX) == 0);
    cancel.should_abandon = after_first_alarm;
    {
      const RepeatingAlarm alarm;
      fetched = fetch_release(dir.string(), cancel);
    }
    ::close(holder);
    expected_curl.clear();
  }

  REQUIRE_FALSE(fetched.ok());
  CHECK(fetched.error().code == Errc::kReleaseFetch);
  CHECK(fetched.error().message == interrupted_message());
  CHECK(fake.calls("curl") == expected_curl);
  CHECK(fake.calls("wget").empty());
  CHECK_FALSE(fs::exists(dir / "hp.json.tmp"));
  CHECK_FALSE(fs::exists(dir / "hp.json"));
}

// An existing cache directory, and a curl that writes "by curl".
struct ExistingCache {
  ExistingCache() {
    fake.install("curl", writes("by curl"));
    fs::create_directories(dir);
  }

  FakeDownloaders fake;
  fs::path dir = fake.root() / "cache";
};

TEST_CASE_FIXTURE(ExistingCache,
                  "a lock that another process keeps is waited for only up to the limit") {
  const int holder = ::open((dir / "hp.json.lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
  REQUIRE(::flock(holder, LOCK_EX) == 0);

  Result<std::string> fetched =
      fetch_release(dir.string(), FetchCancel{}, std::chrono::milliseconds(200));
  ::close(holder);

  REQUIRE_FALSE(fetched.ok());
  CHECK(fetched.error().code == Errc::kReleaseFetch);
  CHECK(fetched.error().message ==
        fetch_message("another process holds the cache's lock " + (dir / "hp.json.lock").string() +
                      " and did not release it in time"));
  CHECK(fake.calls("curl").empty());
  CHECK_FALSE(fs::exists(dir / "hp.json"));
}

}  // namespace
}  // namespace corvanta
