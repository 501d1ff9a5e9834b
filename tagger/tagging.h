// Rewriting an extracted description beside its archive: new line ends,
// very short lines dropped, the site's tag line centred under the widest
// line; then storing it back into the archive.
#ifndef VELMO_TAGGER_TAGGING_H
#define VELMO_TAGGER_TAGGING_H

#include "archive_change.h"
#include "archive_job.h"
#include "file_snapshot.h"

#include <cstdio>
#include <string>

// What rewrite_description found.
struct RewriteResult {
    int maxwidth;     // widest chunk as read, minus 2
    bool keyword_hit; // a keyword stood in the description: no tag line written
};

// Where the rewritten description goes: the archive's directory (all before
// its last "/", or the whole path when it has none), "/", and the member
// name. Returns false when that does not fit the 1024-byte path buffer.
bool description_output_path(const char *archive, const char *member, std::string *out);

// Copies `in` to `out` chunk by chunk (1023 bytes at most), each kept line
// ended by LF CR, lines of three characters or fewer left out; then, unless
// a keyword was found (reported once in verbose mode), the tag line indented
// by `spc` blanks and ended by CR LF. Write errors are left in `out`'s error
// flag for the caller.
RewriteResult rewrite_description(std::FILE *in, std::FILE *out);

// Rewrites the extracted description (`description`, what its file held
// when it was read, null when it could not be; `description_path` names it
// in messages) into the archive's directory,
// named after diz_name (FILE_ID.DIZ in siteop mode), and stores it in the
// archive. The directory is locked from creating that file to the end of
// the change, which begins before the store. Returns 0
// when stored; 1 when a file cannot be opened, created or written, the
// description holds a keyword, the directory stays busy, the change cannot
// begin or the store failed (each reported by mode). The rewritten file is
// left in place.
int copy_and_tag(ArchiveJob &job, ArchiveChange &change, const char *description_path,
                 const FileSnapshot *description);

#endif
