// Implementation details: children start with vfork and execve. On this
// kind of machine a fork costs more than half a millisecond for copying
// and tearing down the tagger's page tables, and a tagged archive takes
// five children; vfork lends the child the parent's memory until it execs.
// The price is discipline on the child's side: everything it needs is made
// before vfork, and become_child makes only async-signal-safe system calls
// (sigaction, sigprocmask, setsid, dup2, fcntl, close_range, setrlimit, setgroups,
// setgid, setuid, prctl, getppid, execve, _exit), writes nothing of the
// parent's but the start error, and never returns. All signals are blocked
// across vfork, so no handler of the tagger's can run in the child.
//
// The parent then waits in ppoll with SIGCHLD and the stop signals blocked
// but for the call itself, so that a child's end or stop, a stop request
// and the next second are each seen at once, and none is lost between a
// look at them and the sleep.
#include "child_process.h"

#include "fixed_paths.h"
#include "private_dirs.h"
#include "stop_signals.h"
#include "unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <set>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

struct PreparedChild {
    const char *program;
    char *const *argv;
    int stdin_fd;
    int stdout_fd;
    int held_fd;
    bool switch_user;
    uid_t uid;
    gid_t gid;
    const gid_t *groups;
    std::size_t group_count;
    bool limit_size;
    rlimit size_limit;
    bool limit_cpu;
    rlimit cpu_limit;
    const sigset_t *signal_mask; // the parent's mask before all were blocked
    volatile int *start_error;
    pid_t parent;
};

bool become_user(uid_t uid, gid_t gid, const gid_t *groups, std::size_t group_count) {
    if (setgroups(group_count, groups) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
        return false;
    if (getgid() != gid || getegid() != gid || getuid() != uid || geteuid() != uid) {
        errno = EPERM;
        return false;
    }
    // Having given root up, the child must not be able to take it back.
    if (uid != 0 && setuid(0) == 0) {
        errno = EPERM;
        return false;
    }
    return true;
}

// Whatever the tagger's caller left open above 2 (a log, a socket) is not
// the child's to use; the tagger's own descriptors are close-on-exec. Only
// `held_fd`, when there is one, stays, as descriptor 3.
bool close_inherited_descriptors(int held_fd) {
    unsigned first = 3;
    if (held_fd >= 0) {
        if (held_fd == 3 ? fcntl(3, F_SETFD, 0) != 0 : dup2(held_fd, 3) != 3)
            return false;
        first = 4;
    }
    if (syscall(SYS_close_range, first, ~0U, 0U) == 0)
        return true;
    rlimit open_files;
    if (errno != ENOSYS || getrlimit(RLIMIT_NOFILE, &open_files) != 0)
        return false;
    for (rlim_t fd = first; fd < open_files.rlim_cur && fd < 65536; ++fd)
        close(static_cast<int>(fd));
    return true;
}

[[noreturn]] void become_child(const PreparedChild &c) {
    // An ignored signal would stay ignored across execve; the child gets
    // what the tagger was started with.
    restore_inherited_signals();

    bool ready = setsid() >= 0 && dup2(c.stdin_fd, STDIN_FILENO) >= 0 &&
                 (c.stdout_fd < 0 || dup2(c.stdout_fd, STDOUT_FILENO) >= 0) &&
                 close_inherited_descriptors(c.held_fd);
    if (ready && (c.limit_size || c.limit_cpu)) {
        // A child stopped by a limit leaves no core file behind.
        const rlimit no_core{0, 0};
        ready = setrlimit(RLIMIT_CORE, &no_core) == 0 &&
                (!c.limit_size || setrlimit(RLIMIT_FSIZE, &c.size_limit) == 0) &&
                (!c.limit_cpu || setrlimit(RLIMIT_CPU, &c.cpu_limit) == 0);
    }
    if (ready && c.switch_user)
        ready = become_user(c.uid, c.gid, c.groups, c.group_count);
#ifdef PR_SET_PDEATHSIG
    // A child that outlived a killed tagger would go on changing an archive
    // that nobody holds any more; zip removes its temporary file on
    // SIGTERM. Set after the credentials, which clear it.
    if (ready)
        ready = prctl(PR_SET_PDEATHSIG, SIGTERM) == 0 && getppid() == c.parent;
#endif
    if (ready) {
        sigprocmask(SIG_SETMASK, c.signal_mask, nullptr);
        execve(c.program, c.argv, environ);
    }
    *c.start_error = errno != 0 ? errno : EINVAL;
    _exit(127);
}

// A limit is never raised above the one the tagger runs under, which the
// child could not take back. The hard limit is `grace` above the soft one:
// past the soft processor limit the child gets SIGXCPU, past the hard one
// SIGKILL.
rlimit limit_for(int resource, long long wanted, rlim_t grace) {
    rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
    if (wanted < 0)
        return limit;
    getrlimit(resource, &limit);
    const rlim_t value = static_cast<rlim_t>(wanted);
    if (limit.rlim_cur == RLIM_INFINITY || value < limit.rlim_cur)
        limit.rlim_cur = value;
    if (limit.rlim_max == RLIM_INFINITY || limit.rlim_cur + grace < limit.rlim_max)
        limit.rlim_max = limit.rlim_cur + grace;
    return limit;
}

ChildStatus status_of(int wait_status) {
    ChildStatus status;
    if (WIFEXITED(wait_status))
        status.exit_code = WEXITSTATUS(wait_status);
    else if (WIFSIGNALED(wait_status))
        status.signal = WTERMSIG(wait_status);
    return status;
}

void wake_only(int) {}

// A process as /proc/PID/stat tells it: "pid (comm) state ppid pgrp
// session ...", where comm may hold anything. False when it is gone.
bool process_state(int proc_fd, const std::string &pid, char *state, long *session) {
    char stat[512];
    const UniqueFd fd(openat(proc_fd, (pid + "/stat").c_str(), O_RDONLY | O_CLOEXEC));
    const ssize_t n = fd ? read(fd.get(), stat, sizeof stat - 1) : -1;
    if (n <= 0)
        return false;
    stat[n] = '\0';
    const char *after = std::strrchr(stat, ')');
    long ppid = 0, pgrp = 0;
    return after && std::sscanf(after + 1, " %c %ld %ld %ld", state, &ppid, &pgrp, session) == 4;
}

// The processes of the session `sid` that are stopped, by job control or
// by a tracer: the child itself is seen stopping by waitpid, but not what
// it started (the archiver under a shell), nor one that its owner traces,
// either of which would hold the run until its deadline.
std::set<std::string> stopped_in_session(pid_t sid) {
    std::set<std::string> stopped;
    const UniqueFd proc(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const std::string &name :
         proc ? directory_entries(proc.get()) : std::vector<std::string>{}) {
        char state = 0;
        long session = 0;
        if (name.find_first_not_of("0123456789") == std::string::npos &&
            process_state(proc.get(), name, &state, &session) && session == sid &&
            (state == 'T' || state == 't'))
            stopped.insert(name);
    }
    return stopped;
}

// True when the child `pid`, which its tracer may hold after its death,
// is dead: a zombie is not waited for until the tracer lets it go.
bool is_zombie(pid_t pid) {
    const UniqueFd proc(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    char state = 0;
    long session = 0;
    return proc && process_state(proc.get(), std::to_string(pid), &state, &session) && state == 'Z';
}

// The signals that end a sleep of the wait: the child's end or stop, and a
// stop request.
constexpr int kWakeSignals[] = {SIGCHLD, SIGTERM, SIGINT, SIGHUP};

using Clock = std::chrono::steady_clock;

// Waits for the child `pid` (whose session it leads) to end, killing that
// session when it is stopped, runs past start.time_limit or the tagger is
// told to stop. Returns with the signal mask set back to `parent_mask`.
ChildStatus wait_for_child(pid_t pid, const ChildStart &start, const sigset_t &parent_mask) {
    sigset_t while_working = parent_mask, while_sleeping = parent_mask;
    for (int sig : kWakeSignals) {
        sigaddset(&while_working, sig);
        sigdelset(&while_sleeping, sig);
    }
    sigprocmask(SIG_SETMASK, &while_working, nullptr);
    // SIGCHLD is ignored by default, and an ignored signal wakes nobody.
    struct sigaction on_child {
    }, saved_child;
    on_child.sa_handler = wake_only;
    on_child.sa_flags = SA_RESTART;
    sigemptyset(&on_child.sa_mask);
    sigaction(SIGCHLD, &on_child, &saved_child);

    const Clock::time_point started = Clock::now();
    const Clock::time_point deadline = start.time_limit < 0
                                           ? Clock::time_point::max()
                                           : started + std::chrono::seconds(start.time_limit);
    Clock::time_point next_tick = started + std::chrono::seconds(1);
    ChildKill killed = ChildKill::None;
    int stop_signal = 0;
    std::set<std::string> stopped_before;
    const auto kill_session = [&](ChildKill why) {
        if (killed != ChildKill::None)
            return;
        killed = why;
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
    };
    ChildStatus status;
    for (;;) {
        int wait_status = 0;
        const pid_t waited = waitpid(pid, &wait_status, WNOHANG | WUNTRACED);
        if (waited == pid && WIFSTOPPED(wait_status)) {
            stop_signal = WSTOPSIG(wait_status);
            kill_session(ChildKill::Held);
            continue;
        }
        if (waited == pid) {
            status = status_of(wait_status);
            break;
        }
        if (waited < 0 && errno != EINTR) {
            status = ChildStatus::start_failed(errno);
            break;
        }
        if (killed != ChildKill::None && is_zombie(pid)) {
            status.signal = SIGKILL;
            break;
        }
        const Clock::time_point now = Clock::now();
        if (stop_requested())
            kill_session(ChildKill::Stop);
        else if (now >= deadline)
            kill_session(ChildKill::Deadline);
        if (now >= next_tick) {
            if (start.tick)
                start.tick();
            // Stopped for two looks in a row: a debugger's stops at each
            // system call pass in a moment.
            std::set<std::string> stopped = stopped_in_session(pid);
            if (killed == ChildKill::None &&
                std::any_of(stopped.begin(), stopped.end(),
                            [&](const std::string &p) { return stopped_before.count(p) != 0; })) {
                stop_signal = SIGSTOP;
                kill_session(ChildKill::Held);
            }
            stopped_before = std::move(stopped);
            next_tick = now + std::chrono::seconds(1);
        }
        const Clock::time_point wake_at = std::min(next_tick, deadline);
        const auto sleep_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::max(wake_at - now, Clock::duration::zero()));
        const timespec timeout{static_cast<time_t>(sleep_ns.count() / 1000000000),
                               static_cast<long>(sleep_ns.count() % 1000000000)};
        ppoll(nullptr, 0, &timeout, &while_sleeping);
    }
    sigaction(SIGCHLD, &saved_child, nullptr);
    sigprocmask(SIG_SETMASK, &parent_mask, nullptr);
    status.killed = killed;
    if (killed == ChildKill::Held)
        status.signal = stop_signal;
    return status;
}

} // namespace

ChildStatus run_child(const ChildStart &start) {
    if (stop_requested())
        return ChildStatus::not_started_for_stop();
    if (start.argv.empty())
        return ChildStatus::start_failed(EINVAL);
    std::vector<char *> argv;
    for (const std::string &arg : start.argv)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);

    // One descriptor of /dev/null serves every child of the run.
    static UniqueFd null_input;
    int stdin_fd = start.stdin_fd;
    if (stdin_fd < 0) {
        if (!null_input)
            null_input.reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (!null_input)
            return ChildStatus::start_failed(errno);
        stdin_fd = null_input.get();
    }

    volatile int start_error = 0;
    sigset_t all_signals, parent_mask;
    sigfillset(&all_signals);
    PreparedChild child{start.program.c_str(),
                        argv.data(),
                        stdin_fd,
                        start.stdout_fd,
                        start.held_fd,
                        start.credentials.switch_user,
                        start.credentials.uid,
                        start.credentials.gid,
                        start.credentials.groups.data(),
                        start.credentials.groups.size(),
                        start.file_size_limit >= 0,
                        limit_for(RLIMIT_FSIZE, start.file_size_limit, 0),
                        start.cpu_seconds >= 0,
                        limit_for(RLIMIT_CPU, start.cpu_seconds, 1),
                        &parent_mask,
                        &start_error,
                        getpid()};

    // Anything still buffered would otherwise be written after the child's
    // own output, or twice.
    std::fflush(stdout);
    struct sigaction ignore {
    }, saved_quit;
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGQUIT, &ignore, &saved_quit);
    sigprocmask(SIG_BLOCK, &all_signals, &parent_mask);
    const pid_t pid = vfork();
    if (pid == 0)
        become_child(child);
    const int vfork_error = errno;

    ChildStatus status;
    if (pid < 0) {
        sigprocmask(SIG_SETMASK, &parent_mask, nullptr);
        status = ChildStatus::start_failed(vfork_error);
    } else {
        if (start.started)
            start.started(pid);
        status = wait_for_child(pid, start, parent_mask);
        // The child has exec'd or exited by now, so start_error is final.
        if (start_error != 0)
            status = ChildStatus::start_failed(start_error);
    }
    sigaction(SIGQUIT, &saved_quit, nullptr);
    return status;
}

ChildStatus run_shell(const std::string &line, ChildStart start) {
    start.program = "/bin/sh";
    start.argv = {"sh", "-c", line};
    return run_child(start);
}

namespace {

const char *unzip_meaning(int code) {
    switch (code) {
    case 1:
        return "warnings";
    case 2:
        return "error in the archive";
    case 3:
        return "severe error in the archive";
    case 4:
    case 6:
    case 7:
        return "out of memory";
    case 5:
        return "out of memory, or no terminal for the password";
    case 9:
        return "archive not found";
    case 10:
        return "bad options";
    case 11:
        return "no matching member";
    case 50:
        return "disk full";
    case 51:
        return "archive ends early";
    case 80:
        return "interrupted";
    case 81:
        return "unsupported compression or encryption";
    case 82:
        return "wrong password";
    default:
        return nullptr;
    }
}

const char *zip_meaning(int code) {
    switch (code) {
    case 2:
        return "unexpected end of the archive";
    case 3:
        return "error in the archive";
    case 4:
        return "out of memory";
    case 5:
        return "severe error in the archive";
    case 6:
        return "entry too large";
    case 7:
        return "invalid comment";
    case 8:
        return "test failed or out of memory";
    case 9:
        return "interrupted";
    case 10:
        return "error with a temporary file";
    case 11:
        return "read or seek error";
    case 12:
        return "nothing to do";
    case 13:
        return "missing or empty archive";
    case 14:
        return "error writing a file";
    case 15:
        return "cannot create a file";
    case 16:
        return "bad command line";
    case 18:
        return "cannot read a file";
    case 19:
        return "unsupported options";
    default:
        return nullptr;
    }
}

} // namespace

std::string describe_status(const ChildStatus &status, Archiver program) {
    if (status.stopped)
        return "was not started: velmotag is stopping";
    if (status.start_error != 0)
        return std::string("could not be started: ") + std::strerror(status.start_error);
    if (status.killed == ChildKill::Deadline)
        return "was killed after running for " + std::to_string(CHILD_TIME_SECONDS) +
               " seconds, its limit";
    if (status.killed == ChildKill::Held)
        return "was stopped by signal " + std::to_string(status.signal) + " and killed";
    if (status.killed == ChildKill::Stop)
        return "was killed: velmotag is stopping";
    if (status.signal == SIGXCPU)
        return "was killed by signal " + std::to_string(status.signal) +
               " (it ran past its limit of " + std::to_string(CHILD_CPU_SECONDS) +
               " seconds of processor time)";
    if (status.signal != 0)
        return "was killed by signal " + std::to_string(status.signal);
    if (status.exit_code < 0)
        return "did not run to its end";
    const int code = status.exit_code;
    const char *meaning = program == Archiver::Unzip ? unzip_meaning(code) : zip_meaning(code);
    if (code == 126)
        meaning = "the shell could not run it";
    else if (code == 127)
        meaning = "the shell could not find it";
    else if (code > 128 && code < 160)
        meaning = "killed by a signal";
    const std::string text = "exit status " + std::to_string(code);
    return meaning ? text + " (" + meaning + ")" : text;
}
