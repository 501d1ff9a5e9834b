// The one place the tagger starts programs: exit statuses, programs that
// cannot start or are killed, descriptors handed over and none other, the
// session of its own, the file size, processor and time limits, a child
// that someone stops, and (as root) the credentials a child runs as.
#include "child_process.h"

#include "stop_signals.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// Each of these ends the wait at once with the child's whole session
// killed: a time limit reached, the child stopped by someone, a stop
// request to the tagger. A sleeper in the session must die with it.
TEST(ChildProcess, DeadlineStoppedChildAndStopRequestKillTheSession) {
    Output out;
    ChildStart sleeper = shell("sleep 30 & echo $!; wait", out.fd());
    sleeper.time_limit = 1;
    int ticks = 0;
    sleeper.tick = [&ticks] { ++ticks; };
    const ChildStatus late = run_child(sleeper);
    EXPECT_EQ(late.killed, ChildKill::Deadline);
    EXPECT_EQ(late.signal, SIGKILL);
    EXPECT_GE(ticks, 1);
    EXPECT_NE(describe_status(late, Archiver::Zip).find("seconds, its limit"), std::string::npos);
    const pid_t grandchild = static_cast<pid_t>(std::atol(out.text().c_str()));
    for (int i = 0; i < 500 && velmo::test::process_running(grandchild); ++i)
        usleep(10000);
    EXPECT_FALSE(velmo::test::process_running(grandchild));

    const ChildStatus held = run_child(shell("kill -STOP $$"));
    EXPECT_EQ(held.killed, ChildKill::Held);
    EXPECT_EQ(describe_status(held, Archiver::Unzip), "was stopped by signal 19 and killed");
    // Stopped below the child, as an archiver under a shell.
    EXPECT_EQ(run_child(shell("sh -c 'kill -STOP $$'; true")).killed, ChildKill::Held);

    // A stop request while the child runs; in a process of its own, which
    // stays stopping.
    EXPECT_EXIT(
        {
            install_stop_signals();
            const ChildStatus stopped = run_child(shell("kill -TERM $PPID; sleep 30"));
            std::exit(stopped.killed == ChildKill::Stop &&
                              describe_status(stopped, Archiver::Zip) ==
                                  "was killed: velmotag is stopping"
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// A child that a tracer holds stopped (as an uploader can its own zip) is
// seen and killed, and not waited for while the tracer keeps its corpse.
TEST(ChildProcess, ChildHeldByATracerHoldsNothingUp) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to trace a process that is not its own child";
    pid_t child = -1, tracer = -1;
    ChildStart start;
    start.program = "/bin/sleep";
    start.argv = {"sleep", "60"};
    start.time_limit = 20;
    start.started = [&](pid_t pid) {
        child = pid;
        tracer = fork();
        if (tracer == 0) {
            ptrace(PTRACE_ATTACH, pid, nullptr, nullptr);
            for (;;)
                pause(); // never lets go
        }
    };
    const ChildStatus held = run_child(start);
    kill(tracer, SIGKILL);
    waitpid(tracer, nullptr, 0);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(held.killed, ChildKill::Held);
}

// A descriptor the tagger's caller left open (not close-on-exec) never
// reaches a child; the one it is asked to hand on reaches it and what it
// starts, as 3.
TEST(ChildProcess, OnlyTheStandardDescriptorsAreInherited) {
    const int inherited = open("/dev/null", O_RDONLY);
    ASSERT_GE(inherited, 3);
    Output out;
    ASSERT_TRUE(run_child(shell("ls /proc/self/fd", out.fd())).succeeded());
    // ls itself has its directory open, as 3.
    EXPECT_EQ(out.text(), "0\n1\n2\n3\n");
    const int held = open("/dev/null", O_RDONLY | O_CLOEXEC);
    Output below;
    ChildStart start = shell("readlink /proc/self/fd/3; true", below.fd());
    start.held_fd = held;
    ASSERT_TRUE(run_child(start).succeeded());
    EXPECT_EQ(below.text(), "/dev/null\n");
    close(held);
    close(inherited);
}

// The child has the given groups and no other: none of the tagger's own,
// which the test gives it one of first.
TEST(ChildProcess, RunsAsTheGivenUserWithItsGroupsOnly) {
    const passwd *nobody = getpwnam("nobody");
    if (geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root and the user nobody";
    const gid_t tagger_group = 4242;
    ASSERT_EQ(setgroups(1, &tagger_group), 0);
    Output out;
    ChildStart start = shell("id -u; id -g; id -G", out.fd());
    start.credentials = {true, nobody->pw_uid, nobody->pw_gid, {nobody->pw_gid, 4343}};
    ASSERT_TRUE(run_child(start).succeeded());
    setgroups(0, nullptr);
    const std::string uid = std::to_string(nobody->pw_uid);
    const std::string gid = std::to_string(nobody->pw_gid);
    EXPECT_EQ(out.text(), uid + "\n" + gid + "\n" + gid + " 4343\n");
}

} // namespace
