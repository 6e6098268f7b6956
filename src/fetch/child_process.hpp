// Starting a program as a child that cannot outlive the thread that started
// it.
//
// A download program left running after its parent died (killed, say, by
// SIGKILL) would go on writing the file that a later fetch downloads anew,
// so the child asks the kernel for SIGKILL when its parent thread ends
// (PR_SET_PDEATHSIG). posix_spawn has no way to ask for that, hence fork and
// exec here. The caller keeps waiting for the child on the thread that
// started it: the death signal follows that thread, not the process.
#pragma once

#include <sys/types.h>

namespace corvanta {

// Starts `argv[0]`, found on the paths execvp searches (a name without a slash
// is looked up on PATH, "/bin:/usr/bin" when PATH is unset) but run only as an
// executable: a file without a "#!" line is not handed to /bin/sh, as execvp
// would, and exits with status 127 like any program that cannot run. The child
// gets `argv` as its arguments (null-terminated), this process's environment
// and its descriptors that are not close-on-exec, standard streams included.
// SIGPIPE and SIGXFSZ are reset to their default actions (a host such as
// Python ignores SIGPIPE, and an ignored signal would survive exec) and no
// signal is blocked. Returns the child's pid, or -1 when no child could be
// made. A program that cannot be run exits with status 127.
[[nodiscard]] pid_t start_child(const char* const argv[]);

}  // namespace corvanta
