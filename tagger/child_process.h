// Starting one child program and waiting for it: the one place where the
// tagger creates processes. Every child runs in a session of its own, with
// no controlling terminal and standard input on /dev/null unless given, so
// no key press reaches it and it can never prompt on the terminal; it gets
// the default dispositions of every signal and no descriptor but 0, 1 and
// 2 (and, when asked, one held descriptor as 3), and, when asked, another
// user's credentials, a limit on the size of the files it writes and one on
// the processor time it takes.
//
// The wait has a deadline of its own: a child that runs past its time, or
// that someone stops (it, or any process of its session, such as the
// archiver under a shell), is killed with its whole session, and so is one
// still running when the tagger is told to stop.
#ifndef VELMO_TAGGER_CHILD_PROCESS_H
#define VELMO_TAGGER_CHILD_PROCESS_H

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Who a child runs as: the tagger's own user, or (only when the tagger runs
// as root) `uid` with its primary group `gid` and, as supplementary groups,
// `groups` and nothing else.
struct ChildCredentials {
    bool switch_user = false;
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

struct ChildStart {
    std::string program;           // the file executed
    std::vector<std::string> argv; // argv[0] included
    int stdin_fd = -1;             // -1: /dev/null
    int stdout_fd = -1;            // -1: the tagger's own standard output
    ChildCredentials credentials;
    long long file_size_limit = -1;     // bytes a written file may reach; -1: none
    int cpu_seconds = -1;               // processor seconds it may take; -1: no limit
    int time_limit = -1;                // seconds it may run; -1: no limit
    std::function<void()> tick;         // called about once a second while it runs
    std::function<void(pid_t)> started; // called with its process id once it runs
    // A descriptor the child and everything it starts keep, as descriptor
    // 3: a lock that shows, after the tagger is gone, that they are not.
    int held_fd = -1;
};

// Why the tagger killed a child.
enum class ChildKill {
    None,
    Deadline, // it ran past its time limit
    Held,     // someone stopped it (the signal is in `signal`)
    Stop,     // the tagger was told to stop
};

// How a child ended.
struct ChildStatus {
    int exit_code = -1;   // 0 to 255 when it exited, else -1
    int signal = 0;       // the signal that killed it, or that stopped it (Held)
    int start_error = 0;  // errno when it could not be started
    bool stopped = false; // not started: the tagger was told to stop
    ChildKill killed = ChildKill::None;

    bool succeeded() const { return exit_code == 0; }

    // A child that could not be started for `error`, and one that was not
    // started because the tagger is stopping.
    static ChildStatus start_failed(int error) {
        ChildStatus status;
        status.start_error = error;
        return status;
    }
    static ChildStatus not_started_for_stop() {
        ChildStatus status;
        status.stopped = true;
        return status;
    }
};

// Starts `start` and waits for it. While it runs, SIGQUIT is ignored (as
// system() does); the child gets neither that nor a stop signal, which is
// noted (stop_signals.h) and ends the wait: the child's session is killed
// at once. Never starts anything once a stop was requested.
ChildStatus run_child(const ChildStart &start);

// Runs `line` with "/bin/sh -c", the way system() runs it, but as
// run_child starts its children (`start.program` and `start.argv` are set
// here); the limits hold for the shell and every program it starts.
ChildStatus run_shell(const std::string &line, ChildStart start);

// Which Info-ZIP program a status came from, for what its exit codes mean.
enum class Archiver { Unzip, Zip };

// Describes how a child ended for a message, such as "exit status 11 (no
// matching member)": the exit codes in the words of the program's manual
// page (DIAGNOSTICS), the shell's own 126 and 127, a signal (SIGXCPU told
// as the processor time limit), or a start that failed.
std::string describe_status(const ChildStatus &status, Archiver program);

#endif
