#include "support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace velmo::test {
namespace {

// The exit statuses of a child that could not become the program.
constexpr int kCannotSetUp = 126;
constexpr int kCannotExec = 127;
constexpr std::size_t kReadChunk = 4096;

bool is_unset(const char *entry, const std::vector<std::string> &names) {
    return std::any_of(names.begin(), names.end(), [entry](const std::string &name) {
        return std::strncmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == '=';
    });
}

// The test's environment, less `unset_env` and the variables that `env`
// sets, which the child must see with the test's value, not the first
// of two.
std::vector<std::string> child_environment(const RunOptions &options) {
    std::vector<std::string> replaced = options.unset_env;
    for (const std::string &entry : options.env)
        replaced.push_back(entry.substr(0, entry.find('=')));
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        if (!is_unset(*e, replaced))
            env.emplace_back(*e);
    }
    env.insert(env.end(), options.env.begin(), options.env.end());
    return env;
}

std::vector<std::string> argv_of(const std::string &program, const std::vector<std::string> &args) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::vector<char *> c_strings(std::vector<std::string> &strings) {
    std::vector<char *> out;
    for (std::string &s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Reads both pipes to their ends without letting either one fill up, and
// closes them.
void drain(int out_fd, int err_fd, std::string *out, std::string *err) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string *sinks[2] = {out, err};
    int open_count = 2;
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buf[kReadChunk];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    for (const pollfd &fd : fds) {
        if (fd.fd >= 0)
            close(fd.fd);
    }
}

// Fills in how the child ended from what waitpid gave.
void take_wait_status(int wait_status, RunResult *result) {
    result->wait_status = wait_status;
    if (WIFEXITED(wait_status))
        result->status = WEXITSTATUS(wait_status);
    else if (WIFSIGNALED(wait_status))
        result->signal = WTERMSIG(wait_status);
}

// In the child: its standard output, the pipe or the file asked for.
int stdout_target(const RunOptions &options, int out_pipe) {
    if (options.stdout_path.empty())
        return out_pipe;
    return open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
}

} // namespace

Background::Background(const std::string &program, const std::vector<std::string> &args,
                       const RunOptions &options) {
    std::vector<std::string> argv_strings = argv_of(program, args);
    std::vector<std::string> env_strings = child_environment(options);
    std::vector<char *> argv = c_strings(argv_strings);
    std::vector<char *> envp = c_strings(env_strings);

    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(errno);
        return;
    }
    if (pipe(err_pipe) != 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(errno);
        close(out_pipe[0]);
        close(out_pipe[1]);
        return;
    }
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDONLY);
        int out_fd = stdout_target(options, out_pipe[1]);
        if (null_fd < 0 || out_fd < 0 || dup2(null_fd, STDIN_FILENO) < 0 ||
            dup2(out_fd, STDOUT_FILENO) < 0 || dup2(err_pipe[1], STDERR_FILENO) < 0)
            _exit(kCannotSetUp);
        close(out_pipe[0]);
        close(err_pipe[0]);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
            _exit(kCannotSetUp);
        if (options.new_session && setsid() < 0)
            _exit(kCannotSetUp);
        if (options.file_size_limit >= 0) {
            const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                               static_cast<rlim_t>(options.file_size_limit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(kCannotSetUp);
            signal(SIGXFSZ, SIG_IGN);
        }
        umask(options.umask);
        execve(argv[0], argv.data(), envp.data());
        _exit(kCannotExec);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (pid < 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(errno);
        close(out_pipe[0]);
        close(err_pipe[0]);
        return;
    }
    pid_ = pid;
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
}

Background::~Background() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        finish();
    }
}

RunResult Background::finish() {
    RunResult result;
    if (pid_ <= 0)
        return result;
    drain(out_fd_, err_fd_, &result.out, &result.err);
    int wait_status;
    while (waitpid(pid_, &wait_status, 0) < 0) {
        if (errno != EINTR) {
            pid_ = -1;
            return result;
        }
    }
    pid_ = -1;
    take_wait_status(wait_status, &result);
    return result;
}

RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const RunOptions &options) {
    return Background(program, args, options).finish();
}

RunResult run_on_terminal(const std::string &program, const std::vector<std::string> &args,
                          int seconds) {
    RunResult result;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
        if (master >= 0)
            close(master);
        return result;
    }
    const std::string terminal = ptsname(master);
    std::vector<std::string> argv_strings = argv_of(program, args);
    std::vector<std::string> env_strings = child_environment(RunOptions{});
    std::vector<char *> argv = c_strings(argv_strings);
    std::vector<char *> envp = c_strings(env_strings);
    pid_t pid = fork();
    if (pid == 0) {
        // The first terminal a session leader opens becomes its own.
        int tty = setsid() < 0 ? -1 : open(terminal.c_str(), O_RDWR);
        if (tty < 0 || dup2(tty, 0) < 0 || dup2(tty, 1) < 0 || dup2(tty, 2) < 0)
            _exit(kCannotSetUp);
        execve(argv[0], argv.data(), envp.data());
        _exit(kCannotExec);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{master, POLLIN, 0};
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            ADD_FAILURE() << program << " still ran on its terminal after " << seconds << " s";
            kill(pid, SIGKILL);
            break;
        }
        char buf[kReadChunk];
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0)
            break; // EIO: every process let the terminal go
        result.out.append(buf, static_cast<std::size_t>(n));
    }
    int wait_status;
    if (waitpid(pid, &wait_status, 0) == pid)
        take_wait_status(wait_status, &result);
    close(master);
    return result;
}

bool process_running(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    const std::size_t end = stat.rfind(')'); // the name may hold one too
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z';
}

} // namespace velmo::test
