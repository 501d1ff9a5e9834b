// cpu_share: runs a command and tells how much CPU time the command's own
// process used, its children's time left out, against its wall-clock time.
//
//   cpu_share COMMAND [ARG...]
//
// Prints one line: "wall_ms self_cpu_ms children_cpu_ms". The command's
// output goes to /dev/null. Its own CPU time is read from /proc while it is a
// zombie (waitid with WNOWAIT): schedstat's time on the CPU in nanoseconds,
// and stat's cutime and cstime for the children it waited for.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

double now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Time the process itself spent on a CPU, or -1.
double self_cpu_ms(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/schedstat";
    std::FILE *f = std::fopen(path.c_str(), "r");
    unsigned long long ns = 0;
    const bool ok = f && std::fscanf(f, "%llu", &ns) == 1;
    if (f)
        std::fclose(f);
    return ok ? ns / 1e6 : -1;
}

// CPU time of the children that the process waited for, or -1.
double children_cpu_ms(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    std::FILE *f = std::fopen(path.c_str(), "r");
    char line[1024];
    const bool ok = f && std::fgets(line, sizeof line, f);
    if (f)
        std::fclose(f);
    if (!ok)
        return -1;
    // Fields after the command name, which ends at the last ')': state is
    // field 3, cutime and cstime are fields 16 and 17.
    const char *p = std::strrchr(line, ')');
    long long cutime = 0, cstime = 0;
    if (!p || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %lld %lld",
                          &cutime, &cstime) != 2)
        return -1;
    return (cutime + cstime) * 1e3 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fputs("usage: cpu_share COMMAND [ARG...]\n", stderr);
        return 1;
    }
    posix_spawn_file_actions_t actions;
    const bool ready =
        posix_spawn_file_actions_init(&actions) == 0 &&
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0;
    const double start = now_ms();
    pid_t pid;
    if (!ready || posix_spawn(&pid, argv[1], &actions, nullptr, argv + 1, environ) != 0) {
        std::perror("cpu_share: posix_spawn");
        return 1;
    }
    siginfo_t info;
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
        std::perror("cpu_share: waitid");
        return 1;
    }
    const double wall = now_ms() - start;
    const double self = self_cpu_ms(pid);
    const double children = children_cpu_ms(pid);
    int status;
    waitpid(pid, &status, 0);
    std::printf("%.3f %.3f %.3f\n", wall, self, children);
    return self < 0 || children < 0 ? 1 : 0;
}
