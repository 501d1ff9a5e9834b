#include "report.h"

#include "settings.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <syslog.h>

namespace {

SyslogSink syslog_sink = nullptr;

// syslog expands %m itself; the test sink gets the same text, so the
// expansion is done here for it.
std::string expand_errno_text(const char *fmt, int saved_errno) {
    std::string out;
    for (const char *p = fmt; *p; ++p) {
        if (p[0] == '%' && p[1] == 'm') {
            out += std::strerror(saved_errno);
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            out += "%%";
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

// Printing may change errno; a message that follows with %m must still see
// the error being reported.
void print_keeping_errno(const char *fmt, va_list ap) {
    int saved_errno = errno;
    std::vprintf(fmt, ap);
    errno = saved_errno;
}

} // namespace

void say(const char *fmt, ...) {
    if (!settings.verbose)
        return;
    va_list ap;
    va_start(ap, fmt);
    print_keeping_errno(fmt, ap);
    va_end(ap);
}

void trace(const char *fmt, ...) {
    if (!settings.debug)
        return;
    va_list ap;
    va_start(ap, fmt);
    print_keeping_errno(fmt, ap);
    va_end(ap);
}

void report_open_error(const char *verbose_fmt, const char *path) {
    say(verbose_fmt, settings.progname, path, std::strerror(errno));
    log_error("error opening '%s': %m", path);
}

void report_open_error(const char *verbose_fmt, const char *path, const std::string &why) {
    say(verbose_fmt, settings.progname, path, why.c_str());
    log_error("error opening '%s': %s", path, why.c_str());
}

void report_failure(const char *step, const char *path, const std::string &why) {
    say("error!\n%s: %s '%s': %s\n", settings.progname, step, path, why.c_str());
    log_error("%s '%s': %s", step, path, why.c_str());
}

namespace {

void log_at(int priority, const char *fmt, va_list ap) {
    if (!settings.siteop)
        return;
    int saved_errno = errno;
    if (syslog_sink) {
        std::string expanded = expand_errno_text(fmt, saved_errno);
        char message[2048];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        std::vsnprintf(message, sizeof message, expanded.c_str(), ap);
#pragma GCC diagnostic pop
        syslog_sink(priority, message);
    } else {
        errno = saved_errno;
        vsyslog(priority, fmt, ap);
    }
    errno = saved_errno;
}

} // namespace

void log_error(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    log_at(LOG_ERR, fmt, ap);
    va_end(ap);
}

void log_info(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    log_at(LOG_INFO, fmt, ap);
    va_end(ap);
}

void log_notice(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    log_at(LOG_NOTICE, fmt, ap);
    va_end(ap);
}

void echo_command(const char *line) {
    if (!settings.show_commands)
        return;
    int saved_errno = errno;
    std::printf("%s\n", line);
    errno = saved_errno;
}

void open_system_log() {
    openlog(settings.progname, LOG_PID, LOG_DAEMON);
}

void close_system_log() {
    closelog();
}

void set_syslog_sink(SyslogSink sink) {
    syslog_sink = sink;
}
