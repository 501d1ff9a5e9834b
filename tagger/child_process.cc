// Implementation details: siteop mode starts its children with vfork and
// execve. The child borrows the parent's memory and stack until it execs, so
// a start costs neither a copy of the address space nor, as posix_spawn's
// does, a stack mapped and unmapped for each child; with five children per
// archive that is a quarter of the tagger's own CPU time. The child only
// makes system calls (open, dup2, execve, _exit) and passes the errno of a
// failed redirection or exec back through the parent's memory.
#include "child_process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

int status_of(int wait_status) {
    if (WIFEXITED(wait_status))
        return WEXITSTATUS(wait_status);
    return kChildFailed;
}

// Opens `path` on descriptor `fd` in the child; false (errno set) on failure.
bool redirect(int fd, const std::string &path, int flags) {
    if (path.empty())
        return true;
    const int opened = open(path.c_str(), flags, 0600);
    if (opened < 0)
        return false;
    if (opened != fd && (dup2(opened, fd) < 0 || close(opened) != 0))
        return false;
    return true;
}

// The child's side of a start: redirections, then the program. Never
// returns; on failure it leaves errno in *start_error and exits.
[[noreturn]] void become_program(const DirectStart &start, char *const *argv,
                                 volatile int *start_error) {
    if (redirect(STDIN_FILENO, start.stdin_path, O_RDONLY) &&
        redirect(STDOUT_FILENO, start.stdout_path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW))
        execve(argv[0], argv, environ);
    *start_error = errno;
    _exit(127);
}

} // namespace

int run_shell(const std::string &line) {
    // Anything still buffered would otherwise be written after the child's
    // own output, or twice.
    std::fflush(stdout);
    int wait_status = std::system(line.c_str());
    if (wait_status == -1)
        return kChildFailed;
    return status_of(wait_status);
}

int run_direct(const DirectStart &start) {
    if (start.argv.empty())
        return kChildFailed;
    std::vector<char *> argv;
    for (const std::string &arg : start.argv)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);

    std::fflush(stdout);
    volatile int start_error = 0;
    const pid_t pid = vfork();
    if (pid == 0)
        become_program(start, argv.data(), &start_error);
    if (pid < 0)
        return kChildFailed;
    int wait_status;
    while (waitpid(pid, &wait_status, 0) == -1) {
        if (errno != EINTR)
            return kChildFailed;
    }
    // The child has exec'd or exited by now, so start_error is final.
    if (start_error != 0)
        return kChildFailed;
    return status_of(wait_status);
}

std::string describe_status(int status) {
    if (status == kChildFailed)
        return "did not run to its end";
    return "exit status " + std::to_string(status);
}
