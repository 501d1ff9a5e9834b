#include "archiver.h"

#include "archive_alias.h"
#include "child_process.h"
#include "report.h"
#include "settings.h"

#include <string>
#include <sys/stat.h>

namespace {

int run_unzip(ArchiverOp op, const char *archive, const char *file) {
    UnzipAlias alias(archive);
    if (alias.name().empty())
        return kChildFailed;
    return run_archiver(op, alias.name().c_str(), file);
}

} // namespace

int run_zip(ArchiverOp op, const char *archive, const char *file) {
    ZipAlias alias(archive);
    if (alias.name().empty())
        return kChildFailed;
    int status = run_archiver(op, alias.name().c_str(), file);
    if (status == 0 && !alias.put_back())
        return kChildFailed;
    return status;
}

void report_step_failure(const char *step, const char *archive, const char *program, int status) {
    std::string why = describe_status(status);
    say("error!\n%s: %s '%s': %s %s\n", settings.progname, step, archive, program, why.c_str());
    log_error("%s '%s': %s %s", step, archive, program, why.c_str());
}

int run_archiver(ArchiverOp op, const char *archive, const char *file) {
    ArchiverCall call{op, archive, file};
    if (settings.siteop)
        return run_direct(direct_start(call));
    std::string line = shell_command(call);
    echo_command(line.c_str());
    return run_shell(line);
}

int get_filelist(const char *archive, const char *listing) {
    trace("BEGIN get_filelist( %s, %s )\n", archive, listing);
    struct stat st;
    if (stat(archive, &st) != 0) {
        say("file not found\n");
        trace("LEAVING[1] get_filelist( %s, %s )\n", archive, listing);
        log_error("stat '%s': %m", archive);
        return 1;
    }
    int status = run_unzip(ArchiverOp::ListContents, archive, listing);
    bool unreadable = status == kChildFailed || status >= 2;
    bool listed = stat(listing, &st) == 0;
    if (!unreadable && listed) {
        trace("LEAVING get_filelist( %s, %s )\n", archive, listing);
        return 0;
    }
    say("not a zipfile or no files in ZIP\n");
    trace("LEAVING[2] get_filelist( %s, %s )\n", archive, listing);
    if (!listed)
        log_error("stat '%s': %m", listing);
    else
        log_error("listing '%s': unzip %s", archive, describe_status(status).c_str());
    return 1;
}

int get_dizfile(const char *archive, const char *description) {
    trace("BEGIN get_dizfile( %s, %s )\n", archive, description);
    int status = run_unzip(ArchiverOp::ExtractDescription, archive, description);
    if (status != 0) {
        report_step_failure("extracting FILE_ID.DIZ from", archive, "unzip", status);
        trace("LEAVING[1] get_dizfile( %s, %s )\n", archive, description);
        return 1;
    }
    trace("LEAVING get_dizfile( %s, %s )\n", archive, description);
    return 0;
}

int add_zorv_stuff(const char *archive) {
    trace("BEGIN add_zorv_stuff( %s )\n", archive);
    int comment_status = run_zip(ArchiverOp::SetComment, archive);
    int info_status = run_zip(ArchiverOp::AddInfo, archive);
    if (comment_status != 0)
        report_step_failure("setting the comment of", archive, "zip", comment_status);
    if (info_status != 0)
        report_step_failure("adding the info file to", archive, "zip", info_status);
    if (comment_status != 0 || info_status != 0) {
        trace("LEAVING[1] add_zorv_stuff( %s )\n", archive);
        return 1;
    }
    trace("LEAVING add_zorv_stuff( %s )\n", archive);
    return 0;
}
