// How the tagger talks: progress and error words on standard output in
// verbose mode, errors to the system log in siteop mode, a BEGIN/LEAVING
// trace in debug mode and an echo of every command line with -c. Each call
// checks its own mode flag, so callers just say everything that applies.
#ifndef VELMO_TAGGER_REPORT_H
#define VELMO_TAGGER_REPORT_H

#include <string>

#define VELMOTAG_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

// Prints on standard output when `verbose` is set.
void say(const char *fmt, ...) VELMOTAG_PRINTF(1, 2);

// Sends one LOG_ERR message to the system log when `siteop` is set. The
// format may use %m for the text of the current errno.
void log_error(const char *fmt, ...) VELMOTAG_PRINTF(1, 2);

// The same at LOG_NOTICE: what the tagger did that is no error, but that
// an operator wants to find in the log (an interrupted change ended).
void log_notice(const char *fmt, ...) VELMOTAG_PRINTF(1, 2);

// The same at LOG_INFO: the summary of a run.
void log_info(const char *fmt, ...) VELMOTAG_PRINTF(1, 2);

// Prints a trace line on standard output when `debug` is set.
void trace(const char *fmt, ...) VELMOTAG_PRINTF(1, 2);

// Reports a file that cannot be opened, with errno still set by the failed
// call: `verbose_fmt` (given the program name, the path and the error text)
// on standard output, "error opening '%s': %m" to the system log.
void report_open_error(const char *verbose_fmt, const char *path);

// The same with `why` in place of the error text in both messages.
void report_open_error(const char *verbose_fmt, const char *path, const std::string &why);

// Reports that `step` failed for the file at `path`, because of `why`:
// "error!\n<progname>: <step> '<path>': <why>\n" in verbose mode and
// "<step> '<path>': <why>" to the system log in siteop mode.
void report_failure(const char *step, const char *path, const std::string &why);

// Prints one command line (and its line feed) when `show_commands` is set.
void echo_command(const char *line);

// Opens and closes the system log with the program's name, LOG_PID and
// LOG_DAEMON.
void open_system_log();
void close_system_log();

// The seam for tests: when a sink is set, log_error hands it the finished
// message (with %m already expanded) instead of calling syslog. Pass nullptr
// to go back to the real system log.
using SyslogSink = void (*)(int priority, const char *message);
void set_syslog_sink(SyslogSink sink);

#endif
