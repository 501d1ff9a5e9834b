#include "child_process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

int status_of(int wait_status) {
    if (WIFEXITED(wait_status))
        return WEXITSTATUS(wait_status);
    return kChildFailed;
}

// posix_spawn_file_actions_t with its destroy call tied to scope.
class FileActions {
  public:
    FileActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
    ~FileActions() {
        if (ok_)
            posix_spawn_file_actions_destroy(&actions_);
    }
    FileActions(const FileActions &) = delete;
    FileActions &operator=(const FileActions &) = delete;

    bool open(int fd, const std::string &path, int flags) {
        ok_ =
            ok_ && posix_spawn_file_actions_addopen(&actions_, fd, path.c_str(), flags, 0600) == 0;
        return ok_;
    }
    bool ok() const { return ok_; }
    const posix_spawn_file_actions_t *get() const { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
    bool ok_;
};

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
    FileActions actions;
    if (!start.stdin_path.empty())
        actions.open(STDIN_FILENO, start.stdin_path, O_RDONLY);
    if (!start.stdout_path.empty())
        actions.open(STDOUT_FILENO, start.stdout_path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW);
    if (!actions.ok())
        return kChildFailed;

    std::vector<char *> argv;
    for (const std::string &arg : start.argv)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);

    std::fflush(stdout);
    pid_t pid;
    if (posix_spawn(&pid, argv[0], actions.get(), nullptr, argv.data(), environ) != 0)
        return kChildFailed;
    int wait_status;
    while (waitpid(pid, &wait_status, 0) == -1) {
        if (errno != EINTR)
            return kChildFailed;
    }
    return status_of(wait_status);
}

std::string describe_status(int status) {
    if (status == kChildFailed)
        return "did not run to its end";
    return "exit status " + std::to_string(status);
}
