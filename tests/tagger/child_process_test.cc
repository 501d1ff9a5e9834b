// The one place the tagger starts programs: exit statuses, programs that
// cannot start or are killed, descriptors handed over, the session of its
// own, the file size and processor limits, and (as root) the credentials a child runs as.
#include "child_process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A child's standard output, captured in an unlinked file.
class Output {
  public:
    Output() {
        char name[] = "/tmp/velmotag_child_XXXXXX";
        fd_ = mkstemp(name);
        unlink(name);
    }
    ~Output() { close(fd_); }
    int fd() const { return fd_; }
    std::string text() const {
        std::string out;
        char buf[4096];
        for (off_t at = 0;;) {
            ssize_t n = pread(fd_, buf, sizeof buf, at);
            if (n <= 0)
                return out;
            out.append(buf, static_cast<std::size_t>(n));
            at += n;
        }
    }

  private:
    int fd_;
};

ChildStart shell(const std::string &script, int stdout_fd = -1) {
    ChildStart start;
    start.program = "/bin/sh";
    start.argv = {"sh", "-c", script};
    start.stdout_fd = stdout_fd;
    return start;
}

TEST(ChildProcess, ExitStatusesSignalsAndStartFailures) {
    EXPECT_TRUE(run_child(shell("exit 0")).succeeded());
    EXPECT_EQ(run_child(shell("exit 3")).exit_code, 3);

    ChildStatus killed = run_child(shell("kill -TERM $$"));
    EXPECT_EQ(killed.exit_code, -1);
    EXPECT_EQ(killed.signal, SIGTERM);

    ChildStart missing = shell("");
    missing.program = "/nonexistent/program";
    ChildStatus not_found = run_child(missing);
    EXPECT_EQ(not_found.exit_code, -1);
    EXPECT_EQ(not_found.start_error, ENOENT);
    EXPECT_EQ(describe_status(not_found, Archiver::Zip),
              "could not be started: No such file or directory");
    EXPECT_EQ(describe_status(killed, Archiver::Zip), "was killed by signal 15");

    // Exit statuses in the words of each program's manual page.
    ChildStatus exited;
    exited.exit_code = 11;
    EXPECT_EQ(describe_status(exited, Archiver::Unzip), "exit status 11 (no matching member)");
    EXPECT_EQ(describe_status(exited, Archiver::Zip), "exit status 11 (read or seek error)");
    exited.exit_code = 127;
    EXPECT_EQ(describe_status(exited, Archiver::Zip),
              "exit status 127 (the shell could not find it)");
    exited.exit_code = 99;
    EXPECT_EQ(describe_status(exited, Archiver::Zip), "exit status 99");

    // A redirection whose descriptor cannot be handed over.
    ChildStart bad_input = shell("exit 0");
    bad_input.stdin_fd = 999;
    EXPECT_EQ(run_child(bad_input).start_error, EBADF);
}

TEST(ChildProcess, OwnSessionNullInputAndTheGivenOutput) {
    Output out;
    const ChildStatus status =
        run_child(shell("read line; echo \"read $?\"; cut -d' ' -f6 /proc/self/stat", out.fd()));
    ASSERT_TRUE(status.succeeded());
    const std::string text = out.text();
    EXPECT_EQ(text.substr(0, text.find('\n')), "read 1"); // end of input at once
    const long session = std::atol(text.substr(text.find('\n') + 1).c_str());
    EXPECT_NE(session, static_cast<long>(getsid(0)));
}

TEST(ChildProcess, FileSizeAndProcessorLimitsStopTheChild) {
    Output out;
    ChildStart start = shell("exec head -c 5000 /dev/zero", out.fd());
    start.file_size_limit = 1000;
    const ChildStatus status = run_child(start);
    EXPECT_FALSE(status.succeeded());
    EXPECT_EQ(out.text().size(), 1000u);

    // A program that loops for ever, as zip asking end of file for a name.
    ChildStart spinning = shell("while :; do :; done");
    spinning.cpu_seconds = 1;
    const ChildStatus stopped = run_child(spinning);
    EXPECT_EQ(stopped.signal, SIGXCPU);
    EXPECT_NE(describe_status(stopped, Archiver::Zip).find("seconds of processor time"),
              std::string::npos);
}

TEST(ChildProcess, RunsAsTheGivenUserWithoutOtherGroups) {
    const passwd *nobody = getpwnam("nobody");
    if (geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root and the user nobody";
    Output out;
    ChildStart start = shell("id -u; id -g; id -G", out.fd());
    start.credentials = {true, nobody->pw_uid, nobody->pw_gid};
    ASSERT_TRUE(run_child(start).succeeded());
    const std::string uid = std::to_string(nobody->pw_uid);
    const std::string gid = std::to_string(nobody->pw_gid);
    EXPECT_EQ(out.text(), uid + "\n" + gid + "\n" + gid + "\n");
}

} // namespace
