// The velmotag command line: options, configuration, and the walk over the
// archive arguments.
#ifndef VELMO_TAGGER_DRIVER_H
#define VELMO_TAGGER_DRIVER_H

// Runs the whole program. Returns 0 after the last archive; ends the process
// itself with status 1 on a bad command line and 0 after -V.
int velmotag_main(int argc, char **argv);

// Prints the usage text on standard output and ends the process with
// status 1.
[[noreturn]] void usage();

#endif
