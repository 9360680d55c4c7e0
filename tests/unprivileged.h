// Runs a test body without root's right to override file permissions, so that a read-only
// directory refuses as it would refuse the service's account.
#ifndef TEMPWARDEN_TESTS_UNPRIVILEGED_H_
#define TEMPWARDEN_TESTS_UNPRIVILEGED_H_

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace tw {

// Runs `body` in this process when it is not root, otherwise in a child process as the user
// "nobody" (65534). True when the body returned true. The child ends with _exit: it runs no
// destructors or test-framework code of the parent.
inline bool RunUnprivileged(const std::function<bool()>& body) {
  if (::geteuid() != 0) return body();
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const bool ok = ::setgid(65534) == 0 && ::setuid(65534) == 0 && body();
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tw

#endif  // TEMPWARDEN_TESTS_UNPRIVILEGED_H_
