// fetch_release against fake `curl` and `wget` scripts: no network is used.
// Each fake logs its arguments and then runs a behaviour given as shell code.
#include <doctest/doctest.h>

#include <signal.h>
#include <sys/file.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "release_fetch.hpp"

namespace corvanta {
namespace {

namespace fs = std::filesystem;

using Argv = std::vector<std::string>;

constexpr std::string_view kFetchFailed = "failed to fetch/cache the HPO release: ";

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_text(const fs::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string fetch_message(std::string_view cause_text) {
  return std::string(kFetchFailed) + std::string(cause_text);
}

std::string download_failed_message() {
  return fetch_message("failed to download " + std::string(kReleaseUrl) +
                       " - neither curl nor wget succeeded (is one installed and is there network "
                       "access?)");
}

std::string interrupted_message() {
  return fetch_message("download of " + std::string(kReleaseUrl) + " interrupted");
}

Argv curl_argv(const fs::path& temporary) {
  return {"-L", "--fail", "--silent", "--show-error", "-o", temporary.string(),
          std::string(kReleaseUrl)};
}

Argv wget_argv(const fs::path& temporary) {
  return {"--quiet", "-O", temporary.string(), std::string(kReleaseUrl)};
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
    write_text(script, "#!/bin/sh\nPATH=/usr/bin:/bin\nlog='" + log(name).string() +
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

TEST_CASE("a missing release is downloaded by curl, else by wget") {
  const FakeDownloaders fake;
  const fs::path dir = fake.root() / "no" / "such" / "cache";
  const fs::path target = dir / "hp.json";
  const fs::path temporary = dir / "hp.json.tmp";
  std::string expected_content;
  std::vector<Argv> expected_curl;
  std::vector<Argv> expected_wget;

  SUBCASE("curl succeeds") {
    fake.install("curl", writes("by curl"));
    fake.install("wget", writes("by wget"));
    expected_content = "by curl";
    expected_curl = {curl_argv(temporary)};
  }
  SUBCASE("curl is missing") {
    fake.install("wget", writes("by wget"));
    expected_content = "by wget";
    expected_wget = {wget_argv(temporary)};
  }
  SUBCASE("curl fails and wget overwrites its partial file") {
    fake.install("curl", fails_with(22));
    fake.install("wget", writes("by wget"));
    expected_content = "by wget";
    expected_curl = {curl_argv(temporary)};
    expected_wget = {wget_argv(temporary)};
  }
  SUBCASE("a dangling hp.json link is a miss, and is replaced") {
    fs::create_directories(dir);
    fs::create_symlink(fake.root() / "nowhere", target);
    fake.install("curl", writes("by curl"));
    expected_content = "by curl";
    expected_curl = {curl_argv(temporary)};
  }

  Result<std::string> fetched = fetch_release(dir.string());
  REQUIRE(fetched.ok());
  CHECK(fetched.value() == target.string());
  CHECK(fs::is_regular_file(fs::symlink_status(target)));
  CHECK(read_text(target) == expected_content);
  CHECK_FALSE(fs::exists(temporary));
  CHECK(fake.calls("curl") == expected_curl);
  CHECK(fake.calls("wget") == expected_wget);
}

TEST_CASE("a failed download leaves neither the temporary nor the target file") {
  const FakeDownloaders fake;
  const fs::path dir = fake.root() / "cache";

  SUBCASE("both programs fail") {
    fake.install("curl", fails_with(22));
    fake.install("wget", fails_with(8));
  }
  SUBCASE("neither program is installed") {}

  Result<std::string> fetched = fetch_release(dir.string());
  REQUIRE_FALSE(fetched.ok());
  CHECK(fetched.error().code == Errc::kReleaseFetch);
  CHECK(fetched.error().message == download_failed_message());
  CHECK(fs::is_directory(dir));
  CHECK_FALSE(fs::exists(dir / "hp.json.tmp"));
  CHECK_FALSE(fs::exists(dir / "hp.json"));
}

TEST_CASE("a failed rename keeps the temporary file and names the target") {
  const FakeDownloaders fake;
  const fs::path dir = fake.root() / "cache";
  // A non-empty directory appearing at hp.json mid-download cannot be replaced.
  fake.install("curl", writes("by curl") + "; mkdir \"${out%.tmp}\"; : > \"${out%.tmp}/x\"");

  Result<std::string> fetched = fetch_release(dir.string());
  REQUIRE_FALSE(fetched.ok());
  CHECK(fetched.error().code == Errc::kReleaseFetch);
  CHECK(fetched.error().message ==
        fetch_message("failed to move downloaded file into place at " + (dir / "hp.json").string()));
  CHECK(read_text(dir / "hp.json.tmp") == "by curl");
}

TEST_CASE("an existing hp.json is reused as it stands, without running anything") {
  const FakeDownloaders fake;
  fake.install("curl", writes("by curl"));
  fake.install("wget", writes("by wget"));
  const fs::path dir = fake.root() / "cache";
  fs::create_directories(dir);
  const fs::path target = dir / "hp.json";
  std::string content;

  SUBCASE("an empty file") { write_text(target, ""); }
  SUBCASE("a link to a file elsewhere") {
    content = "elsewhere";
    write_text(fake.root() / "release", content);
    fs::create_symlink(fake.root() / "release", target);
  }

  Result<std::string> fetched = fetch_release(dir.string());
  REQUIRE(fetched.ok());
  CHECK(fetched.value() == target.string());
  CHECK(read_text(target) == content);
  CHECK(fake.calls("curl").empty());
  CHECK(fake.calls("wget").empty());
}

TEST_CASE("a cache_dir that cannot be a directory fails before any download") {
  const FakeDownloaders fake;
  fake.install("curl", writes("by curl"));
  write_text(fake.root() / "file", "");
  std::string cache_dir;

  SUBCASE("an existing regular file") { cache_dir = (fake.root() / "file").string(); }
  SUBCASE("a path through a regular file") { cache_dir = (fake.root() / "file" / "sub").string(); }
  SUBCASE("a path containing NUL") {
    // Cut at the NUL, the path would name the existing scratch directory.
    cache_dir = fake.root().string();
    cache_dir += '\0';
    cache_dir += "cache";
  }

  Result<std::string> fetched = fetch_release(cache_dir);
  REQUIRE_FALSE(fetched.ok());
  CHECK(fetched.error().code == Errc::kReleaseFetch);
  CHECK(fetched.error().message == fetch_message("failed to create cache directory " + cache_dir));
  CHECK(fake.calls("curl").empty());
  CHECK_FALSE(fs::exists(fake.root() / "hp.json"));
}

TEST_CASE("shell syntax in cache_dir reaches the program as one literal argument") {
  const FakeDownloaders fake;
  fake.install("curl", writes("by curl"));
  const std::string marker = (fake.root() / "pwned").string();
  const fs::path dir = fake.root() / ("a b 'c' \"d\" $(touch " + marker + ") `touch " + marker +
                                      "`; touch " + marker + " #");

  Result<std::string> fetched = fetch_release(dir.string());
  REQUIRE(fetched.ok());
  CHECK(fetched.value() == (dir / "hp.json").string());
  CHECK(read_text(dir / "hp.json") == "by curl");
  CHECK(fake.calls("curl") == std::vector<Argv>{curl_argv(dir / "hp.json.tmp")});
  CHECK_FALSE(fs::exists(marker));
}

TEST_CASE("an interrupted download ends the fetch without trying wget") {
  const FakeDownloaders fake;
  const fs::path dir = fake.root() / "cache";
  fake.install("wget", writes("by wget"));
  fs::path temporary = dir / "hp.json.tmp";
  FetchCancel cancel;
  std::vector<Argv> expected_curl = {curl_argv(temporary)};
  Result<std::string> fetched = Error{};

  SUBCASE("curl killed by SIGINT, as by Ctrl-C in a terminal") {
    fake.install("curl", "printf partial > \"$out\"; kill -INT $$; sleep 5; exit 1");
    fetched = fetch_release(dir.string(), cancel);
  }
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

TEST_CASE_FIXTURE(ExistingCache, "whatever stands at hp.json.tmp is removed, never written through") {
  const fs::path temporary = dir / "hp.json.tmp";
  const fs::path elsewhere = fake.root() / "elsewhere";

  SUBCASE("a link to a file elsewhere") {
    write_text(elsewhere, "precious");
    fs::create_symlink(elsewhere, temporary);
  }
  SUBCASE("a link to nothing yet") { fs::create_symlink(elsewhere, temporary); }
  SUBCASE("a second name of a file elsewhere") {
    write_text(elsewhere, "precious");
    fs::create_hard_link(elsewhere, temporary);
  }

  const bool existed = fs::exists(elsewhere);
  Result<std::string> fetched = fetch_release(dir.string());
  REQUIRE(fetched.ok());
  CHECK(fs::is_regular_file(fs::symlink_status(dir / "hp.json")));
  CHECK(read_text(dir / "hp.json") == "by curl");
  CHECK(fs::exists(elsewhere) == existed);
  if (existed) CHECK(read_text(elsewhere) == "precious");
}

TEST_CASE_FIXTURE(ExistingCache, "a lock path that is not a regular file is refused") {
  const fs::path lock = dir / "hp.json.lock";
  const fs::path elsewhere = fake.root() / "elsewhere";

  SUBCASE("a link to nothing yet") { fs::create_symlink(elsewhere, lock); }
  SUBCASE("a link to a file elsewhere") {
    write_text(elsewhere, "");
    fs::create_symlink(elsewhere, lock);
  }
  SUBCASE("a directory") { fs::create_directory(lock); }

  const bool existed = fs::exists(elsewhere);
  Result<std::string> fetched = fetch_release(dir.string());
  REQUIRE_FALSE(fetched.ok());
  CHECK(fetched.error().code == Errc::kReleaseFetch);
  CHECK(fetched.error().message ==
        fetch_message("the cache's lock " + lock.string() + " is not a regular file"));
  CHECK(fake.calls("curl").empty());
  CHECK(fs::exists(elsewhere) == existed);
  CHECK_FALSE(fs::exists(dir / "hp.json"));
}

TEST_CASE_FIXTURE(ExistingCache, "a lock that another process keeps is waited for only up to the limit") {
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

// Whether `pid` has ended: gone, or a zombie that nobody has reaped yet.
bool has_ended(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(status, line)) return true;
  const size_t name_end = line.rfind(')');
  return name_end == std::string::npos || line.substr(name_end + 2, 1) == "Z";
}

template <class Condition>
bool becomes_true_within_10s(Condition condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    ::usleep(10000);
  }
  return false;
}

TEST_CASE("a download whose fetching process is killed dies, and the next fetch is intact") {
  const FakeDownloaders fake;
  const fs::path dir = fake.root() / "cache";
  const fs::path pid_file = fake.root() / "orphan.pid";
  // Keeps the file open and writes on, as a download program does.
  fake.install("curl", "exec 3> \"$out\"; echo $$ > '" + pid_file.string() +
                           "'; while :; do printf x >&3; sleep 0.02; done");
  const pid_t fetcher = ::fork();
  REQUIRE(fetcher >= 0);
  if (fetcher == 0) {
    (void)fetch_release(dir.string());
    ::_exit(0);
  }
  REQUIRE(becomes_true_within_10s([&] { return !read_text(pid_file).empty(); }));
  ::kill(fetcher, SIGKILL);
  int status = 0;
  REQUIRE(::waitpid(fetcher, &status, 0) == fetcher);
  const pid_t orphan = std::stoi(read_text(pid_file));

  CHECK(becomes_true_within_10s([&] { return has_ended(orphan); }));
  fake.install("curl", writes("by curl"));
  Result<std::string> fetched = fetch_release(dir.string());
  REQUIRE(fetched.ok());
  ::usleep(100000);  // time for an orphan that survived to write on
  CHECK(read_text(dir / "hp.json") == "by curl");
  if (!has_ended(orphan)) ::kill(orphan, SIGKILL);
}

TEST_CASE("processes that miss one cache together download it once") {
  const FakeDownloaders fake;
  // Written in pieces, so a second writer or an early rename would show.
  fake.install("curl",
               ": > \"$out\"; for p in 1 2 3 4 5; do sleep 0.1; printf 'piece%s;' $p >> \"$out\"; "
               "done");
  fake.install("wget", fails_with(4));
  const fs::path dir = fake.root() / "shared" / "cache";
  const std::string target = (dir / "hp.json").string();

  constexpr int kProcesses = 4;
  std::vector<pid_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    const pid_t pid = ::fork();
    REQUIRE(pid >= 0);
    if (pid == 0) {
      Result<std::string> fetched = fetch_release(dir.string());
      ::_exit(fetched.ok() && fetched.value() == target ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    REQUIRE(::waitpid(pid, &status, 0) == pid);
    CHECK(WIFEXITED(status));
    CHECK(WEXITSTATUS(status) == 0);
  }
  CHECK(fake.calls("curl").size() == 1);
  CHECK(fake.calls("wget").empty());
  CHECK(read_text(target) == "piece1;piece2;piece3;piece4;piece5;");
}

}  // namespace
}  // namespace corvanta
