// What the tagger does on SIGTERM, SIGINT and SIGHUP: it notes the request
// and goes on with the step in progress, so that an archive is never left
// half-changed; the pipeline then starts no further program, rolls the
// archive back, and the run ends with the summary line and the signal.
#ifndef VELMO_TAGGER_STOP_SIGNALS_H
#define VELMO_TAGGER_STOP_SIGNALS_H

// Installs the tagger's dispositions: SIGTERM, SIGINT and SIGHUP note a stop
// request (unless the tagger was started with one of them ignored, as by
// nohup, which it then keeps); SIGALRM only interrupts a blocking call (see
// locks.h); SIGPIPE and SIGXFSZ are ignored, so that a closed standard
// output or a file size limit gives a write error instead of ending the run
// mid-archive.
void install_stop_signals();

// Gives the calling process back the dispositions the tagger was started
// with, for every signal that install_stop_signals changed. Only makes
// async-signal-safe calls: it is meant for a child between vfork and execve.
void restore_inherited_signals();

// True once a stop signal has arrived.
bool stop_requested();

// Ends the process by the first stop signal that arrived, with its default
// action, as a program killed by it would end. REQUIRES: stop_requested().
[[noreturn]] void end_by_stop_signal();

#endif
