/* Preloaded into a program under test (LD_PRELOAD), this takes the place
 * of the system log: each message goes, as one line "PRIORITY MESSAGE", to
 * the file that VELMO_SYSLOG_FILE names, with %m expanded as syslog does.
 * So a test reads what a siteop run logged without a syslog daemon. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

void openlog(const char *ident, int option, int facility) {
    (void)ident;
    (void)option;
    (void)facility;
}

void closelog(void) {}

void vsyslog(int priority, const char *format, va_list ap) {
    const int saved = errno;
    const char *path = getenv("VELMO_SYSLOG_FILE");
    if (!path)
        return;
    char expanded[4096], message[8192];
    size_t at = 0;
    for (const char *p = format; *p && at + 256 < sizeof expanded; ++p) {
        if (p[0] == '%' && p[1] == 'm') {
            at += (size_t)snprintf(expanded + at, sizeof expanded - at, "%s", strerror(saved));
            ++p;
        } else {
            expanded[at++] = *p;
        }
    }
    expanded[at] = '\0';
    vsnprintf(message, sizeof message, expanded, ap);
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        dprintf(fd, "%d %s\n", LOG_PRI(priority), message);
        close(fd);
    }
    errno = saved;
}

void syslog(int priority, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    vsyslog(priority, format, ap);
    va_end(ap);
}
