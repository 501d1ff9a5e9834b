// zip writes each new archive into a temporary file beside the old one,
// "zi" and six letters or digits, and renames it over the archive at its
// end; a zip killed before that leaves the file behind, for good. The
// tagger removes it, and never a file of anyone else's: only a file that
// the archivers' user made in the archive's directory while the tagger's
// zip step ran, when there is exactly one such file.
#ifndef VELMO_TAGGER_ZIP_LEFTOVERS_H
#define VELMO_TAGGER_ZIP_LEFTOVERS_H

#include <ctime>
#include <sys/stat.h>
#include <sys/types.h>

// When a zip step may have made its temporary file, and how large it can be.
struct ZipStepWindow {
    timespec from{};  // the step began
    timespec until{}; // the step had certainly ended (or its zip was dead)
    uid_t uid = 0;    // whom zip ran as
    off_t max_size = 0;
};

// How large a temporary file of zip's can be, rewriting an archive of
// `original_size` bytes: the archive, the description, and the site's files.
off_t zip_leftover_max(off_t original_size);

// Removes zip's temporary file from the directory `dir_fd`: the one regular
// file with one link named "zi" and six letters or digits, owned by
// window.uid, created within the window (by its birth time; nothing is
// removed on a file system that keeps none) and no larger than
// window.max_size. Returns true when one was removed.
bool remove_zip_leftover(int dir_fd, const ZipStepWindow &window);

// The current time as files are stamped with it.
timespec file_clock_now();

// The current time of the precise clock.
timespec realtime_now();

// Whether the file time `t` is before (< 0), at (0) or after (> 0) `limit`.
int compare_time(const statx_timestamp &t, const timespec &limit);

// `t` moved by `seconds`.
timespec time_plus(timespec t, long seconds);

#endif
