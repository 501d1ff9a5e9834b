// Starting one child program and waiting for it: through /bin/sh with
// system() in the normal modes, or directly (vfork and execve) in siteop mode.
#pragma once

#include "command_line.h"

#include <string>

// The result of a child that could not be started or was killed by a signal.
constexpr int kChildFailed = -1;

// Runs `line` with /bin/sh and waits for it. Returns the shell's exit status,
// or kChildFailed.
int run_shell(const std::string &line);

// Starts `start.argv[0]` without a shell, standard input and output opened
// on the named files, and waits for it. Returns the program's exit status,
// or kChildFailed (also when a redirection file cannot be opened).
int run_direct(const DirectStart &start);

// Describes a status from run_shell or run_direct for a message, such as
// "exit status 9".
std::string describe_status(int status);
