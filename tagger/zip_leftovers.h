// zip writes each new archive into a temporary file beside the old one,
// "zi" and six letters or digits, and renames it over the archive at its
// end; a zip killed before that leaves the file behind, for good. The
// tagger removes it, and never a file of anyone else's: only a file that
// the archivers' user made in the archive's directory while the tagger's
// zip step ran, when there is exactly one such file.
#ifndef VELMO_TAGGER_ZIP_LEFTOVERS_H
#define VELMO_TAGGER_ZIP_LEFTOVERS_H

#include <ctime>
#include <sys/types.h>

// When a zip step may have made its temporary file, and how large it can be.
struct ZipStepWindow {
    timespec from{};  // the step began
    timespec until{}; // the step had certainly ended (or its zip was dead)
    uid_t uid = 0;    // whom zip ran as
    off_t max_size = 0;
};

// Removes zip's temporary file from the directory `dir_fd`: the one regular
// file with one link named "zi" and six letters or digits, owned by
// window.uid, created within the window (by its birth time; nothing is
// removed on a file system that keeps none) and no larger than
// window.max_size. Returns true when one was removed.
bool remove_zip_leftover(int dir_fd, const ZipStepWindow &window);

// The current time as files are stamped with it.
timespec file_clock_now();

// `t` moved by `seconds`.
timespec time_plus(timespec t, long seconds);

#endif
