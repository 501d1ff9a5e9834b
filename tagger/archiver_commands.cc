#include "archiver_commands.h"

#include "fixed_paths.h"
#include "settings.h"

namespace {

bool is_plain_shell_char(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '/':
    case '.':
    case '_':
    case '-':
    case '+':
    case ',':
    case ':':
    case '@':
    case '%':
    case '=':
        return true;
    default:
        return false;
    }
}

std::string q(std::string_view path) {
    return shell_quote(path);
}

} // namespace

std::string in_conf_dir(const char *name) {
    return std::string(CONF_DIR) + "/" + name;
}

std::string shell_quote(std::string_view path) {
    bool plain = !path.empty();
    for (char c : path)
        plain = plain && is_plain_shell_char(c);
    if (plain)
        return std::string(path);
    std::string quoted = "'";
    for (char c : path) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += "'";
    return quoted;
}

std::string shell_command(const ArchiverCall &call) {
    const std::string &a = call.archive;
    switch (call.op) {
    case ArchiverOp::ListContents:
        return "( " + q(UNZIP_PATH) + " -vqq " + q(a) + " > " + q(call.file) + " ) 2> /dev/null";
    case ArchiverOp::ExtractDescription:
        return q(UNZIP_PATH) + " -Cqqp " + q(a) + " " + kDescriptionName + " > " + q(call.file) +
               " 2>&1";
    case ArchiverOp::StoreDescription:
        return q(ZIP_PATH) + " -jqq " + q(a) + " " + q(call.file) + " > /dev/null 2>&1";
    case ArchiverOp::SetComment:
        return q(ZIP_PATH) + " -zqq " + q(a) + " < " + q(in_conf_dir(settings.comment_name)) +
               " > /dev/null 2>&1";
    case ArchiverOp::AddInfo:
        // -c prints these lines, and site scripts compare what -c prints
        // byte for byte, so the two blanks before ">" stay.
        return q(ZIP_PATH) + " -jqq " + q(a) + " " + q(in_conf_dir(settings.nfo_name)) +
               "  > /dev/null 2>&1";
    case ArchiverOp::DeleteMember:
        return q(ZIP_PATH) + " -dqq " + q(a) + " " + q(call.file) + " > /dev/null 2>&1";
    }
    return {};
}

DirectStart direct_start(const ArchiverCall &call) {
    const std::string &a = call.archive;
    switch (call.op) {
    case ArchiverOp::ListContents:
        return {{UNZIP_PATH, "-vqq", a}, {}, call.file};
    case ArchiverOp::ExtractDescription:
        return {{UNZIP_PATH, "-Cqqp", a, kDescriptionName}, {}, call.file};
    case ArchiverOp::StoreDescription:
        return {{ZIP_PATH, "-jqq", a, call.file}, {}, {}};
    case ArchiverOp::SetComment:
        return {{ZIP_PATH, "-zqq", a}, in_conf_dir(kSiteopCommentFile), {}};
    case ArchiverOp::AddInfo:
        return {{ZIP_PATH, "-jqq", a, in_conf_dir(kSiteopInfoFile)}, {}, {}};
    case ArchiverOp::DeleteMember:
        return {{ZIP_PATH, "-dqq", a, call.file}, {}, {}};
    }
    return {};
}

bool unzip_would_expand(std::string_view path) {
    return path.find_first_of("*?[]\\") != std::string_view::npos;
}

bool zip_would_extend(std::string_view path) {
    std::size_t slash = path.rfind('/');
    std::size_t base = slash == std::string_view::npos ? 0 : slash + 1;
    return path.find('.', base) == std::string_view::npos;
}
