// Each line is cut at its first '#', squeezed, and split at its first blank
// into key and value. Keys are matched case-insensitively on their leading
// letters only, so "keywords" and "nfofile" work as well. Splitting the
// squeezed line (rather than the raw one) keeps a value in place when the
// line is indented or uses a tab between key and value.
#include "config.h"

#include "archiver_commands.h"
#include "file_ptr.h"
#include "fixed_paths.h"
#include "report.h"
#include "settings.h"
#include "text.h"

#include <cerrno>
#include <cstring>
#include <strings.h>

namespace {

// Why the configuration file could not be read, 0 once it was.
int unread_error = ENOENT;
std::string conf_file;

void add_keyword(char *value, const char *conf_path) {
    if (char *blank = std::strchr(value, ' '))
        *blank = '\0';
    str_upper(value);
    // An empty keyword would be found in every archive and stop all tagging.
    if (*value == '\0')
        return;
    if (settings.keyword_count < kMaxKeywords) {
        copy_limited(settings.keywords[settings.keyword_count], value, kKeywordMax);
        ++settings.keyword_count;
    } else {
        say("WARNING: Too many keywords in %s: '%s' ignored!\n", conf_path, value);
    }
}

} // namespace

void apply_config_line(char *line, const char *conf_path) {
    if (char *hash = std::strchr(line, '#'))
        *hash = '\0';
    squeeze_spaces(line);
    char *blank = std::strchr(line, ' ');
    if (!blank)
        return;
    char *value = blank + 1;

    if (strncasecmp(line, "keyword", 7) == 0)
        add_keyword(value, conf_path);
    if (strncasecmp(line, "tagline", 7) == 0)
        copy_limited(settings.diztagtext, value, kTagTextMax);
    if (strncasecmp(line, "nfo", 3) == 0)
        copy_limited(settings.nfo_name, value, kSiteFileMax);
    if (strncasecmp(line, "comment", 7) == 0)
        copy_limited(settings.comment_name, value, kSiteFileMax);
}

void read_config_stream(std::FILE *conf, const char *conf_path) {
    char line[kLineBuffer];
    while (std::fgets(line, sizeof line, conf))
        apply_config_line(line, conf_path);
}

int read_datafile() {
    trace("BEGIN read_datafile()\n");
    char path[kLineBuffer];
    velmo::FilePtr conf;
    if (std::snprintf(path, sizeof path, "%s/velmotag.conf", CONF_DIR) >=
        static_cast<int>(sizeof path))
        errno = ENAMETOOLONG;
    else
        conf = velmo::open_file(path, "r");
    conf_file = path;
    if (!conf) {
        unread_error = errno;
        report_open_error("error!\n%s: Error opening '%s': %s\n", path);
        trace("LEAVING[1] read_datafile()\n");
        return 1;
    }
    unread_error = 0;
    read_config_stream(conf.get(), path);
    trace("LEAVING read_datafile()\n");
    return 0;
}

const char *keyword_in(const char *upper) {
    for (int k = 0; k < settings.keyword_count; ++k) {
        if (std::strstr(upper, settings.keywords[k]))
            return settings.keywords[k];
    }
    return nullptr;
}

bool holds_keyword(std::string text) {
    str_upper(text.data());
    return keyword_in(text.c_str()) != nullptr;
}

std::string why_mark_unknown(bool has_description) {
    if (unread_error != 0)
        return "'" + conf_file + "' cannot be read (" + std::strerror(unread_error) +
               "), and without its keywords no later run would know the archive as tagged";
    if (holds_keyword(kSiteopInfoFile) || (has_description && holds_keyword(settings.diztagtext)))
        return "";
    return std::string("no keyword in '") + conf_file + "' occurs in " +
           (has_description ? "the tag line or in " : "") + "'" + kSiteopInfoFile +
           "', so every later run would tag it again";
}
