#include "stop_signals.h"

#include <csignal>
#include <cstddef>
#include <initializer_list>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stop_signal = 0;

void note_stop(int sig) {
    if (stop_signal == 0)
        stop_signal = sig;
}

void interrupt_only(int) {}

// The signals the tagger takes over, and what it was started with for each.
struct Inherited {
    int sig;
    struct sigaction action;
};
Inherited inherited[] = {{SIGTERM, {}}, {SIGINT, {}},  {SIGHUP, {}}, {SIGQUIT, {}},
                         {SIGPIPE, {}}, {SIGXFSZ, {}}, {SIGALRM, {}}};
bool installed = false;

void take_over(int sig, void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigfillset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
}

bool started_ignored(int sig) {
    for (const Inherited &entry : inherited) {
        if (entry.sig == sig)
            return entry.action.sa_handler == SIG_IGN;
    }
    return false;
}

} // namespace

void install_stop_signals() {
    for (Inherited &entry : inherited)
        sigaction(entry.sig, nullptr, &entry.action);
    installed = true;
    // SA_RESTART: a stop request must not cut a write to standard output or
    // the wait for a child short; the pipeline looks at the flag between
    // steps.
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        if (!started_ignored(sig))
            take_over(sig, note_stop, SA_RESTART);
    }
    take_over(SIGALRM, interrupt_only, 0);
    take_over(SIGPIPE, SIG_IGN, 0);
    take_over(SIGXFSZ, SIG_IGN, 0);
}

void restore_inherited_signals() {
    if (!installed)
        return;
    for (const Inherited &entry : inherited)
        sigaction(entry.sig, &entry.action, nullptr);
}

bool stop_requested() {
    return stop_signal != 0;
}

void end_by_stop_signal() {
    const int sig = stop_signal;
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(sig, &default_action, nullptr);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, sig);
    sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
    raise(sig);
    _exit(128 + sig);
}
