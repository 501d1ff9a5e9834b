// How each archive of a run ended, for the run's exit status and, in siteop
// mode, its summary line in the system log. An archive's outcome is Failed
// unless a step notes another: tagged, found to carry the site's mark
// already, or given up (left alone on purpose, to be tried again: another
// run has it, it is not safe to change, a stop came, the configuration
// would not know it as tagged).
#ifndef VELMO_TAGGER_RUN_TALLY_H
#define VELMO_TAGGER_RUN_TALLY_H

enum class Outcome { Tagged, AlreadyTagged, GivenUp, Failed };

struct Tally {
    int tagged = 0;
    int already_tagged = 0;
    int given_up = 0;
    int failed = 0;
};

// Brackets one archive's way through the pipeline.
void begin_archive();
void note_outcome(Outcome outcome);
void end_archive();
// The outcome of the archive in hand so far.
Outcome archive_outcome();

const Tally &run_tally();

#endif
