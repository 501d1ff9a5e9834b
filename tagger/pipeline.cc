#include "pipeline.h"

#include "archive_change.h"
#include "archiver.h"
#include "config.h"
#include "discovery.h"
#include "fixed_paths.h"
#include "listing_facts.h"
#include "report.h"
#include "run_tally.h"
#include "settings.h"
#include "tagging.h"
#include "temporary_file.h"

#include <cstdio>

void process_zipfile(ArchiveJob &job) {
    const char *archive = job.path().c_str();
    trace("BEGIN process_zipfile( %s )\n", archive);
    say("%s: ", archive);

    TemporaryFile listing, description;
    const bool made_listing = listing.create("rt_filelist_XXXXXX");
    if (!made_listing || !description.create("rt_tmpdiz_XXXXXX")) {
        std::string failed =
            std::string(TMP_DIR) + (made_listing ? "/rt_tmpdiz_XXXXXX" : "/rt_filelist_XXXXXX");
        report_open_error("error!\n%s: creating '%s': %s\n", failed.c_str());
        trace("LEAVING[4] process_zipfile( %s )\n", archive);
        return;
    }

    ListingFacts facts;
    if (get_filelist(job, listing, &facts) != 0) {
        trace("LEAVING[1] process_zipfile( %s )\n", archive);
        return;
    }
    int found = get_dizname(listing.path().c_str(), listing.snapshot());
    if (found == kListingRejected) {
        trace("LEAVING[2] process_zipfile( %s )\n", archive);
        return;
    }
    if (settings.siteop) {
        if (const std::string why = why_mark_unknown(found == kHasDescription); !why.empty()) {
            note_outcome(Outcome::GivenUp);
            report_failure("tagging", archive, why);
            trace("LEAVING[9] process_zipfile( %s )\n", archive);
            return;
        }
    }
    // From here on the archive changes as a whole or not at all: going out
    // of scope before commit() puts it back.
    ArchiveChange change(job);
    if (found == kHasDescription) {
        say("(%s) ", settings.diz_name);
        if (get_dizfile(job, description, facts) != 0) {
            trace("LEAVING[5] process_zipfile( %s )\n", archive);
            return;
        }
        if (copy_and_tag(job, change, description.path().c_str(), &description.snapshot()) != 0) {
            trace("LEAVING[3] process_zipfile( %s )\n", archive);
            return;
        }
    } else {
        say("(no diz) ");
        if (!change.begin()) {
            trace("LEAVING[7] process_zipfile( %s )\n", archive);
            return;
        }
    }
    if (add_zorv_stuff(job, change) != 0) {
        trace("LEAVING[6] process_zipfile( %s )\n", archive);
        return;
    }
    if (!change.commit()) {
        trace("LEAVING[8] process_zipfile( %s )\n", archive);
        return;
    }
    // Not through say(), which prints in verbose mode only: "done" is printed
    // in quiet and -c modes too, one line for each archive tagged; only
    // siteop mode prints nothing.
    if (!settings.siteop)
        std::printf("done\n");
    note_outcome(Outcome::Tagged);
    trace("LEAVING process_zipfile( %s )\n", archive);
}
