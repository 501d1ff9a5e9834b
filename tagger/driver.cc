// Options are read in a pass of their own before any archive, so an option
// given after the archive names still applies to all of them. Only an
// option's second character counts: -quiet is -q, and -qs is -q alone.
#include "driver.h"

#include "config.h"
#include "pipeline.h"
#include "report.h"
#include "settings.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool is_option(const char *arg) {
    return arg[0] == '-';
}

void apply_option(const char *arg) {
    switch (arg[1]) {
    case 'V':
        std::printf("ZorvTag v1.0\n");
        std::exit(0);
    case 'c':
        settings.show_commands = 1;
        settings.verbose = 0;
        settings.siteop = 0;
        std::printf("%s: commandlines:\n", settings.progname);
        break;
    case 'd':
        std::printf("%s: debug mode on\n", settings.progname);
        settings.debug = 1;
        break;
    case 'q':
        settings.verbose = 0;
        break;
    case 's':
        settings.verbose = 0;
        settings.siteop = 1;
        open_system_log();
        std::fflush(stdout);
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            log_error("reopening standard output on /dev/null: %m");
        break;
    case 'v':
        settings.verbose = 1;
        std::printf("%s: verbose mode on\n", settings.progname);
        break;
    default:
        usage();
    }
}

// The archivers read extra options from these; the tagger's commands must
// run with their fixed options only.
void drop_archiver_options_from_environment() {
    for (const char *name : {"UNZIP", "UNZIPOPT", "ZIP", "ZIPOPT"})
        unsetenv(name);
}

// Tags one archive argument and gives the rewritten archive its owner and
// group back. An argument that cannot be resolved is used as given (the
// pipeline then finds it missing); one that cannot be stat'ed keeps
// whatever ownership it has.
void tag_archive(const char *arg) {
    char *resolved = realpath(arg, nullptr);
    std::string path = resolved ? resolved : arg;
    std::free(resolved);

    struct stat st;
    bool have_owner = stat(path.c_str(), &st) == 0;
    process_zipfile(path.c_str());
    if (!have_owner)
        return;
    if (settings.show_commands)
        std::printf("chown %d.%d %s\n", static_cast<int>(st.st_uid), static_cast<int>(st.st_gid),
                    path.c_str());
    // lchown: should a link have been put where the archive stood, its
    // target must not change hands.
    if (lchown(path.c_str(), st.st_uid, st.st_gid) != 0) {
        // Not being root, the tagger cannot give files away; nothing to tell.
    }
}

} // namespace

void usage() {
    std::printf("Usage: %s [OPTION]... [Filename]...\n\n", settings.progname);
    std::printf("   -q    be quiet (output nothing, even on error)\n"
                "   -c    commandline output, shows what system commands are\n"
                "         being done.\n"
                "   -d    debug mode.\n"
                "   -s    siteop mode on (no output, errors to syslog)\n"
                "   -v    verbose mode on (default)\n"
                "   -?    display this help and exit\n"
                "   -V    display version information and exit\n"
                "\n"
                "Note that in this portable version long args are not allowed\n"
                "and options must be separate, i.e. use '-q -s' not '-qs'.\n");
    std::exit(1);
}

int velmotag_main(int argc, char **argv) {
    settings.progname = "velmotag";
    if (argc <= 1)
        usage();
    for (int i = 1; i < argc; ++i) {
        if (is_option(argv[i]))
            apply_option(argv[i]);
    }
    drop_archiver_options_from_environment();
    read_datafile();
    for (int i = 1; i < argc; ++i) {
        if (!is_option(argv[i]))
            tag_archive(argv[i]);
    }
    say("%s: %d files tagged\n", settings.progname, settings.files_tagged);
    if (settings.siteop)
        close_system_log();
    return 0;
}
