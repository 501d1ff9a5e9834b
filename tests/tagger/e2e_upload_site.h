// The test site for hostile uploads: besides the upload directory, a sibling
// directory "outside" that the tagger must never change (the tagger runs
// with it as its working directory, so a command smuggled in by a name
// would leave its canary there), and a run that proves, around every
// tagger run, that nothing but the named archives and their rewritten
// descriptions changed.
#ifndef VELMO_TESTS_TAGGER_E2E_UPLOAD_SITE_H
#define VELMO_TESTS_TAGGER_E2E_UPLOAD_SITE_H

#include "e2e_support.h"

#include <map>
#include <string>
#include <vector>

namespace e2e {

// Every entry under a directory (relative paths, without following links)
// with its type, permission bits and bytes or link target.
using TreeSnapshot = std::map<std::string, std::string>;
TreeSnapshot snapshot_tree(const std::string &dir);

// Bytes 6 and 7 of the first local header, bit 3: the member's sizes and
// CRC follow its data in a data descriptor.
bool first_member_has_data_descriptor(const std::string &archive_bytes);

// The whole standard output of a verbose run: the mode line, `lines`
// (one per archive), and the summary with `count`.
std::string verbose_run(const std::string &lines, int count);

// Byte equality that prints the two texts when they are short, and only
// their sizes and the first differing offset when they are long.
::testing::AssertionResult same_bytes(const std::string &actual, const std::string &expected);

class UploadSite : public TaggerSite {
  protected:
    void SetUp() override;

    const std::string &outside() const { return outside_dir_.path(); }

    // Runs the tagger with `args`, in `cwd` (default: the outside
    // directory) and without a controlling terminal, then checks that the
    // outside directory and the site's configuration directory are as they
    // were; that in the upload directory only the named archives and files
    // named FILE_ID.DIZ (any case) beside them changed or appeared; and that
    // the temporary directory holds only the tagger's listing and
    // description files, no private directory left behind.
    RunResult run(const std::vector<std::string> &args, const std::string &cwd = "");

    // The archive was tagged: it tests sound, holds the original members
    // (other than FILE_ID.DIZ) byte for byte, the rewritten description
    // `stored_diz` as FILE_ID.DIZ, the site's comment and the info file of
    // the mode.
    static void expect_tagged(const std::string &archive, const std::vector<Member> &members,
                              const std::string &stored_diz, bool siteop);

    // The archive was given up: byte-identical to `before`, and when it was
    // a sound ZIP it still tests sound.
    static void expect_untouched(const std::string &archive, const std::string &before,
                                 bool was_sound_zip);

  private:
    velmo::test::TempDir outside_dir_{"outside_", kTestTmpRoot};
};

} // namespace e2e

#endif
