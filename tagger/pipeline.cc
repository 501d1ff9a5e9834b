#include "pipeline.h"

#include "archiver.h"
#include "discovery.h"
#include "fixed_paths.h"
#include "report.h"
#include "settings.h"
#include "tagging.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

std::string make_temp_file(const char *name_template) {
    std::string path = std::string(TMP_DIR) + "/" + name_template;
    int fd = mkstemp(path.data());
    if (fd < 0)
        return {};
    close(fd);
    return path;
}

void process_zipfile(const char *archive) {
    trace("BEGIN process_zipfile( %s )\n", archive);
    say("%s: ", archive);

    // The tagger makes both files itself, so nothing else can have put a
    // file or a link at those names first.
    std::string listing = make_temp_file("rt_filelist_XXXXXX");
    std::string description = listing.empty() ? "" : make_temp_file("rt_tmpdiz_XXXXXX");
    if (description.empty()) {
        std::string failed =
            std::string(TMP_DIR) + (listing.empty() ? "/rt_filelist_XXXXXX" : "/rt_tmpdiz_XXXXXX");
        report_open_error("error!\n%s: creating '%s': %s\n", failed.c_str());
        trace("LEAVING[4] process_zipfile( %s )\n", archive);
        return;
    }

    if (get_filelist(archive, listing.c_str()) != 0) {
        trace("LEAVING[1] process_zipfile( %s )\n", archive);
        return;
    }
    int found = get_dizname(listing.c_str());
    if (found == kListingRejected) {
        trace("LEAVING[2] process_zipfile( %s )\n", archive);
        return;
    }
    if (found == kHasDescription) {
        say("(%s) ", settings.diz_name);
        if (get_dizfile(archive, description.c_str()) != 0) {
            trace("LEAVING[5] process_zipfile( %s )\n", archive);
            return;
        }
        if (copy_and_tag(archive, description.c_str()) != 0) {
            trace("LEAVING[3] process_zipfile( %s )\n", archive);
            return;
        }
    } else {
        say("(no diz) ");
    }
    if (add_zorv_stuff(archive) != 0) {
        trace("LEAVING[6] process_zipfile( %s )\n", archive);
        return;
    }
    if (!settings.siteop)
        std::printf("done\n");
    ++settings.files_tagged;
    trace("LEAVING process_zipfile( %s )\n", archive);
}
