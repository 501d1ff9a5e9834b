#include "run_tally.h"

namespace {

Tally tally;
Outcome current = Outcome::Failed;

} // namespace

void begin_archive() {
    current = Outcome::Failed;
}

void note_outcome(Outcome outcome) {
    current = outcome;
}

void end_archive() {
    switch (current) {
    case Outcome::Tagged:
        ++tally.tagged;
        break;
    case Outcome::AlreadyTagged:
        ++tally.already_tagged;
        break;
    case Outcome::GivenUp:
        ++tally.given_up;
        break;
    case Outcome::Failed:
        ++tally.failed;
        break;
    }
}

Outcome archive_outcome() {
    return current;
}

const Tally &run_tally() {
    return tally;
}
