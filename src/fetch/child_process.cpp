// The child runs only async-signal-safe calls between fork and exec: another
// thread of the parent may have held a lock (the allocator's, say) at the
// moment of the fork, and the child would wait for it for ever. Everything
// that allocates, the search path included, is prepared before the fork.
#include "fetch/child_process.hpp"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace corvanta {
namespace {

// The paths execvp would try for `name`, in its order; an empty entry of
// PATH is the current directory.
std::vector<std::string> candidate_paths(std::string_view name) {
  if (name.find('/') != std::string_view::npos) return {std::string(name)};
  const char* search = std::getenv("PATH");
  const std::string_view entries = search != nullptr ? search : "/bin:/usr/bin";
  std::vector<std::string> paths;
  size_t begin = 0;
  for (;;) {
    const size_t end = std::min(entries.find(':', begin), entries.size());
    const std::string_view directory = entries.substr(begin, end - begin);
    std::string& path = paths.emplace_back(directory.empty() ? "." : directory);
    path += '/';
    path += name;
    if (end == entries.size()) return paths;
    begin = end + 1;
  }
}

[[noreturn]] void become(const char* const argv[], const std::vector<const char*>& paths,
                         pid_t parent) {
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &default_action, nullptr);
  ::sigaction(SIGXFSZ, &default_action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  // A parent that died before the request was made is seen as a new parent.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(127);
  // execve never writes through argv; the cast is its C signature.
  for (const char* path : paths) ::execve(path, const_cast<char* const*>(argv), environ);
  ::_exit(127);
}

}  // namespace

pid_t start_child(const char* const argv[]) {
  const std::vector<std::string> candidates = candidate_paths(argv[0]);
  std::vector<const char*> paths;
  paths.reserve(candidates.size());
  for (const std::string& candidate : candidates) paths.push_back(candidate.c_str());
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) become(argv, paths, parent);
  return pid;
}

}  // namespace corvanta
