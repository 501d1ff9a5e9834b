#include "archiver.h"

#include "child_process.h"
#include "report.h"
#include "settings.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// unzip expands wildcards in its archive argument, so an upload named
// "*.zip" would make it read every archive beside it. Such a name is handed
// to unzip as a link with a plain name in a private directory; the link and
// the directory go away with this object.
class UnzipName {
  public:
    explicit UnzipName(const char *archive) : name_(archive) {
        if (!unzip_would_expand(name_))
            return;
        name_.clear();
        char dir_template[] = "/tmp/velmotag_XXXXXX";
        if (!mkdtemp(dir_template))
            return;
        dir_ = dir_template;
        std::string link = dir_ + "/archive.zip";
        if (symlink(archive, link.c_str()) == 0)
            name_ = link;
    }
    ~UnzipName() {
        if (dir_.empty())
            return;
        if (!name_.empty())
            unlink(name_.c_str());
        rmdir(dir_.c_str());
    }
    UnzipName(const UnzipName &) = delete;
    UnzipName &operator=(const UnzipName &) = delete;

    // Empty when no private link could be made.
    const std::string &get() const { return name_; }

  private:
    std::string name_;
    std::string dir_;
};

int run_unzip(ArchiverOp op, const char *archive, const char *file) {
    UnzipName name(archive);
    if (name.get().empty())
        return kChildFailed;
    return run_archiver(op, name.get().c_str(), file);
}

} // namespace

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
    int comment_status = run_archiver(ArchiverOp::SetComment, archive);
    int info_status = run_archiver(ArchiverOp::AddInfo, archive);
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
