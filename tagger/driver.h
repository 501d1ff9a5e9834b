// The velmotag command line: options, configuration, and the walk over the
// archive arguments.
#ifndef VELMO_TAGGER_DRIVER_H
#define VELMO_TAGGER_DRIVER_H

// Runs the whole program. Returns 0 after the last archive when each archive
// named was tagged or carried the site's mark already, kExitNotAllTagged
// when one did not; ends the process itself with status 1 on a bad command
// line and 0 after -V, and by the signal after a stop request.
int velmotag_main(int argc, char **argv);

// Prints the usage text on standard output and ends the process with
// status 1.
[[noreturn]] void usage();

// The exit status of a run in which an archive named was neither tagged nor
// found tagged already: it failed, or was given up.
constexpr int kExitNotAllTagged = 2;

#endif
