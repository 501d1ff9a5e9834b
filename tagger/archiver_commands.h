// The five archiver operations and the exact commands that carry them out:
// a /bin/sh command line for the normal modes, and an argument vector with
// its redirections for siteop mode, where no shell is started.
#ifndef VELMO_TAGGER_ARCHIVER_COMMANDS_H
#define VELMO_TAGGER_ARCHIVER_COMMANDS_H

#include <string>
#include <string_view>
#include <vector>

enum class ArchiverOp {
    ListContents,       // unzip -vqq ARCHIVE, output into FILE
    ExtractDescription, // unzip -Cqqp ARCHIVE FILE_ID.DIZ, output into FILE
    StoreDescription,   // zip -jqq ARCHIVE FILE
    SetComment,         // zip -zqq ARCHIVE, comment from the site's comment file
    AddInfo,            // zip -jqq ARCHIVE, the site's info file
    DeleteMember,       // zip -dqq ARCHIVE FILE: the member FILE goes (siteop mode)
};

// One operation with its paths. `file` is the listing, description or file
// to store, or the member to delete; SetComment and AddInfo leave it empty.
struct ArchiverCall {
    ArchiverOp op;
    std::string archive;
    std::string file;
};

// A program started without a shell: its argument vector (argv[0] is the
// program's path) and the files its standard input and output are opened on
// (empty for none).
struct DirectStart {
    std::vector<std::string> argv;
    std::string stdin_path;
    std::string stdout_path;
};

// Returns `path` as one /bin/sh word: unchanged when it holds only letters,
// digits and / . _ - + , : @ % =, otherwise in single quotes with each
// embedded ' written as '\''.
std::string shell_quote(std::string_view path);

// The shell command line for a call, with every path quoted as shell_quote
// does. A name made of plain characters is left unquoted, so that the line
// -c prints is the command as one would type it, and stays the same line
// that site scripts compare.
std::string shell_command(const ArchiverCall &call);

// The site files that siteop mode always uses, in CONF_DIR, whatever the
// configuration names.
inline constexpr char kSiteopCommentFile[] = "sitetag.asc";
inline constexpr char kSiteopInfoFile[] = "velmo97.nfo";

// CONF_DIR/`name`.
std::string in_conf_dir(const char *name);

// The argument vector and redirections for a call in siteop mode, which
// always uses the comment file kSiteopCommentFile and the info file
// kSiteopInfoFile in CONF_DIR.
DirectStart direct_start(const ArchiverCall &call);

// The two ways an archiver misreads an archive's name.

// True when unzip would take `path` for a wildcard pattern: it expands
// * ? [ ] and takes \ for an escape in its archive argument itself, so such
// an archive must be handed to it under a plain name (see archive_alias.h).
bool unzip_would_expand(std::string_view path);

// True when zip would add ".zip" to `path`, whose last component then has
// no dot, and so write another file than the archive.
bool zip_would_extend(std::string_view path);

#endif
