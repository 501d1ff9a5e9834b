// Programs run by tests: started without a shell, with standard input on
// /dev/null, their standard output and error read to the end without either
// pipe filling up, and their exit status or killing signal.
#ifndef VELMO_TESTS_SUPPORT_PROCESS_H
#define VELMO_TESTS_SUPPORT_PROCESS_H

#include <string>
#include <sys/types.h>
#include <vector>

namespace velmo::test {

struct RunOptions {
    std::string cwd;              // empty: the test's own
    std::vector<std::string> env; // NAME=value entries, in place of the test's own NAME
    // Variables of the test's own environment that the child never gets:
    // by default the ones that change what zip and unzip do. `env` may set
    // them again on purpose.
    std::vector<std::string> unset_env = {"UNZIP", "UNZIPOPT", "ZIP", "ZIPOPT"};
    mode_t umask = 022;
    bool new_session = false;       // no controlling terminal, so nothing can prompt on /dev/tty
    long long file_size_limit = -1; // RLIMIT_FSIZE, with SIGXFSZ ignored (a full disk's errors)
    std::string stdout_path;        // not empty: standard output goes to this file instead
};

struct RunResult {
    int status = -1;      // exit status; -1 when killed or never started
    int signal = 0;       // the signal that killed it
    int wait_status = -1; // as waitpid gave it; -1 when it never started
    std::string out;      // standard output, byte for byte
    std::string err;      // standard error
};

// Runs `program` (a path, not looked up) with `args` and waits for it. A
// program that cannot be started fails the current test (not fatally); one
// that cannot be executed exits with 127, and 126 when its options cannot
// be applied.
RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const RunOptions &options = {});

// A program started as run_program starts it, running while the test goes
// on; finish() drains its output and waits for it. A program not finished
// is killed with the object.
class Background {
  public:
    Background(const std::string &program, const std::vector<std::string> &args,
               const RunOptions &options = {});
    ~Background();
    Background(const Background &) = delete;
    Background &operator=(const Background &) = delete;

    pid_t pid() const { return pid_; }
    RunResult finish();

  private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
};

// Runs `program` with a new pseudo-terminal as its controlling terminal and
// standard streams, as from an operator's shell, in the environment that
// default RunOptions give, and returns what it wrote there (with the
// terminal's CR LF line ends) in `out`. Kills it after `seconds`, which
// fails the current test (not fatally).
RunResult run_on_terminal(const std::string &program, const std::vector<std::string> &args,
                          int seconds);

// True while the process `pid` runs: it exists and is not a zombie.
bool process_running(pid_t pid);

} // namespace velmo::test

#endif
