#include "e2e_support.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace fs = std::filesystem;

namespace e2e {

const std::string kTagger = E2E_TAGGER;
const std::string kConfDir = E2E_CONF_DIR;
const std::string kUnzip = E2E_UNZIP_PATH;
const std::string kZip = E2E_ZIP_PATH;
const std::string kTmpDir = E2E_TMP_DIR;

const std::string kTagLine = "--== zORV97 [Zelbrin Ostrak Ruvane Vell] zORV97 ==--";
const std::string kSiteComment = "Tagged at the test site\n";
const std::string kOtherComment = "Another comment\n";
const std::string kZorvInfo = "zorv97 site info\n";
const std::string kVelmoInfo = "velmo97 siteop info\n";
const std::string kOtherInfo = "other info\n";

namespace {

const std::string kTestTmpRoot = E2E_TMP_ROOT;

bool is_archiver_option_variable(const char *entry) {
    for (const char *name : {"UNZIP=", "UNZIPOPT=", "ZIP=", "ZIPOPT="}) {
        if (std::strncmp(entry, name, std::strlen(name)) == 0)
            return true;
    }
    return false;
}

std::vector<std::string> child_environment(const std::vector<std::string> &extra) {
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        if (!is_archiver_option_variable(*e))
            env.emplace_back(*e);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char *> c_strings(std::vector<std::string> &strings) {
    std::vector<char *> out;
    for (std::string &s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Reads both pipes to their ends without letting either one fill up.
void drain(int out_fd, int err_fd, std::string *out, std::string *err) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string *sinks[2] = {out, err};
    int open_count = 2;
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

// A scratch directory under the build tree's test area, removed with the
// object.
class ScratchDir {
  public:
    ScratchDir() {
        fs::create_directories(kTestTmpRoot);
        std::string templ = kTestTmpRoot + "/scratch_XXXXXX";
        if (mkdtemp(templ.data()))
            path_ = templ;
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!path_.empty())
            fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

// unzip takes * ? [ ] in an archive name for a pattern, so readers work on a
// plain-named copy.
RunResult unzip_copy_of(const std::string &archive, std::vector<std::string> args_before,
                        std::vector<std::string> args_after = {}) {
    ScratchDir scratch;
    std::string copy = scratch.path() + "/copy.zip";
    write_file(copy, read_file(archive));
    args_before.push_back(copy);
    args_before.insert(args_before.end(), args_after.begin(), args_after.end());
    return run_program(E2E_SYSTEM_UNZIP, args_before);
}

} // namespace

Background::Background(const std::string &program, const std::vector<std::string> &args,
                       const RunOptions &options) {
    std::vector<std::string> argv_strings{program};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<std::string> env_strings = child_environment(options.env);
    std::vector<char *> argv = c_strings(argv_strings);
    std::vector<char *> envp = c_strings(env_strings);

    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0)
        return;
    if (pipe(err_pipe) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return;
    }
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDONLY);
        if (null_fd < 0 || dup2(null_fd, STDIN_FILENO) < 0 ||
            dup2(out_pipe[1], STDOUT_FILENO) < 0 || dup2(err_pipe[1], STDERR_FILENO) < 0)
            _exit(126);
        close(out_pipe[0]);
        close(err_pipe[0]);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
            _exit(126);
        if (options.new_session && setsid() < 0)
            _exit(126);
        if (options.file_size_limit >= 0) {
            const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                               static_cast<rlim_t>(options.file_size_limit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(126);
            signal(SIGXFSZ, SIG_IGN);
        }
        umask(options.umask);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (pid < 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        return;
    }
    pid_ = pid;
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
}

Background::~Background() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        finish();
    }
}

RunResult Background::finish() {
    RunResult result;
    if (pid_ <= 0)
        return result;
    drain(out_fd_, err_fd_, &result.out, &result.err);
    int wait_status;
    while (waitpid(pid_, &wait_status, 0) < 0) {
        if (errno != EINTR) {
            pid_ = -1;
            return result;
        }
    }
    pid_ = -1;
    if (WIFEXITED(wait_status))
        result.status = WEXITSTATUS(wait_status);
    else if (WIFSIGNALED(wait_status))
        result.signal = WTERMSIG(wait_status);
    return result;
}

RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const RunOptions &options) {
    return Background(program, args, options).finish();
}

RunResult run_on_terminal(const std::string &program, const std::vector<std::string> &args,
                          int seconds) {
    RunResult result;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
        return result;
    }
    const std::string terminal = ptsname(master);
    std::vector<std::string> argv_strings{program};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<std::string> env_strings = child_environment({});
    std::vector<char *> argv = c_strings(argv_strings);
    std::vector<char *> envp = c_strings(env_strings);
    pid_t pid = fork();
    if (pid == 0) {
        // The first terminal a session leader opens becomes its own.
        int tty = setsid() < 0 ? -1 : open(terminal.c_str(), O_RDWR);
        if (tty < 0 || dup2(tty, 0) < 0 || dup2(tty, 1) < 0 || dup2(tty, 2) < 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{master, POLLIN, 0};
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            ADD_FAILURE() << program << " still ran on its terminal after " << seconds << " s";
            kill(pid, SIGKILL);
            break;
        }
        char buf[4096];
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0)
            break; // EIO: every process let the terminal go
        result.out.append(buf, static_cast<std::size_t>(n));
    }
    int wait_status;
    if (waitpid(pid, &wait_status, 0) == pid && WIFEXITED(wait_status))
        result.status = WEXITSTATUS(wait_status);
    close(master);
    return result;
}

void steer_site_program(const std::string &site_program, const std::string &real_program,
                        const std::string &option, const std::string &dir,
                        const std::string &action) {
    fs::remove(site_program);
    write_file(site_program, "#!/bin/sh\n"
                             "if [ \"$1\" = '" +
                                 option + "' ] && mkdir '" + dir + "/steered' 2>/dev/null; then\n" +
                                 action +
                                 "\nfi\n"
                                 "exec '" +
                                 real_program + "' \"$@\"\n");
    fs::permissions(site_program, fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
}

void pause_site_program(const std::string &site_program, const std::string &real_program,
                        const std::string &option, const std::string &dir) {
    steer_site_program(site_program, real_program, option, dir,
                       "    : > '" + dir + "/ready'\n    while [ ! -e '" + dir +
                           "/go' ]; do sleep 0.05; done");
}

bool wait_for_path(const std::string &path, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!path_exists(path)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        usleep(10000);
    }
    return true;
}

RunResult run_tagger(const std::vector<std::string> &args, const RunOptions &options) {
    return run_program(kTagger, args, options);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        ADD_FAILURE() << "cannot write " << path;
}

bool path_exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

mode_t file_mode(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return static_cast<mode_t>(-1);
    return st.st_mode & 07777;
}

std::vector<std::string> dir_entries(const std::string &dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const fs::directory_entry &entry : fs::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void make_zip(const std::string &archive, const std::vector<Member> &members) {
    ScratchDir scratch;
    std::vector<std::string> args{"-q", "-X", "made.zip"};
    for (const Member &m : members) {
        fs::path file = fs::path(scratch.path()) / m.name;
        fs::create_directories(file.parent_path());
        write_file(file.string(), m.bytes);
        args.push_back(m.name);
    }
    RunOptions in_scratch;
    in_scratch.cwd = scratch.path();
    RunResult made = run_program(E2E_SYSTEM_ZIP, args, in_scratch);
    ASSERT_EQ(made.status, 0) << made.err;
    write_file(archive, read_file(scratch.path() + "/made.zip"));
}

void make_empty_zip(const std::string &archive) {
    write_file(archive, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

std::vector<std::string> zip_names(const std::string &archive) {
    std::vector<std::string> names;
    std::istringstream lines(unzip_copy_of(archive, {"-Z1"}).out);
    for (std::string line; std::getline(lines, line);)
        names.push_back(line);
    std::sort(names.begin(), names.end());
    return names;
}

std::string zip_member(const std::string &archive, const std::string &name) {
    return unzip_copy_of(archive, {"-p"}, {name}).out;
}

std::string zip_comment(const std::string &archive) {
    return unzip_copy_of(archive, {"-zq"}).out;
}

std::string zip_listing(const std::string &archive) {
    return unzip_copy_of(archive, {"-vqq"}).out;
}

RunResult zip_test(const std::string &archive) {
    return unzip_copy_of(archive, {"-tqq"});
}

std::string listing_line_with(const std::string &archive, const std::string &keyword) {
    std::istringstream lines(zip_listing(archive));
    for (std::string line; std::getline(lines, line);) {
        for (char &c : line)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (line.find(keyword) != std::string::npos)
            return line + "\n";
    }
    ADD_FAILURE() << "no listing line of " << archive << " holds " << keyword;
    return {};
}

std::string mask_temp_names(std::string text) {
    for (const std::string prefix : {"rt_filelist_", "rt_tmpdiz_", "velmotag_"}) {
        for (std::size_t at = text.find(prefix); at != std::string::npos;
             at = text.find(prefix, at + 1)) {
            std::size_t suffix = at + prefix.size();
            if (suffix + 6 <= text.size())
                text.replace(suffix, 6, "XXXXXX");
        }
    }
    return text;
}

std::string list_command(const std::string &archive) {
    return "( " + kUnzip + " -vqq " + archive + " > " + kTmpDir +
           "/rt_filelist_XXXXXX ) 2> /dev/null\n";
}

std::string extract_command(const std::string &archive) {
    return kUnzip + " -Cqqp " + archive + " FILE_ID.DIZ > " + kTmpDir + "/rt_tmpdiz_XXXXXX 2>&1\n";
}

std::string store_command(const std::string &archive, const std::string &file) {
    return kZip + " -jqq " + archive + " " + file + " > /dev/null 2>&1\n";
}

std::string comment_command(const std::string &archive, const std::string &comment_name) {
    return kZip + " -zqq " + archive + " < " + kConfDir + "/" + comment_name +
           " > /dev/null 2>&1\n";
}

std::string info_command(const std::string &archive, const std::string &nfo_name) {
    return kZip + " -jqq " + archive + " " + kConfDir + "/" + nfo_name + "  > /dev/null 2>&1\n";
}

std::string tagged(const std::string &kept_lines, int indent) {
    return kept_lines + std::string(static_cast<std::size_t>(std::max(indent, 1)), ' ') + kTagLine +
           "\r\n";
}

std::string chown_line(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        ADD_FAILURE() << "cannot stat " << path;
        return {};
    }
    return "chown " + std::to_string(st.st_uid) + "." + std::to_string(st.st_gid) + " " + path +
           "\n";
}

std::string mode_word(const std::string &option) {
    if (option == "-v")
        return "Verbose";
    if (option == "-q")
        return "Quiet";
    if (option == "-c")
        return "Commands";
    if (option == "-d")
        return "Debug";
    return "Siteop";
}

std::string mode_case_name(const ::testing::TestParamInfo<const char *> &info) {
    return mode_word(info.param);
}

void TaggerSite::SetUp() {
    fs::create_directories(kConfDir);
    write_conf("keyword ZORV97\n");
    write_file(kConfDir + "/sitetag.asc", kSiteComment);
    write_file(kConfDir + "/other.asc", kOtherComment);
    write_file(kConfDir + "/zorv97.nfo", kZorvInfo);
    write_file(kConfDir + "/velmo97.nfo", kVelmoInfo);
    write_file(kConfDir + "/other.nfo", kOtherInfo);
    for (const auto &[link, target] :
         {std::pair{kUnzip, E2E_SYSTEM_UNZIP}, std::pair{kZip, E2E_SYSTEM_ZIP}}) {
        fs::remove(link);
        fs::create_symlink(target, link);
    }
    // The tagger never removes its temporary files; start every test clean.
    fs::remove_all(kTmpDir);
    fs::create_directories(kTmpDir);

    fs::create_directories(kTestTmpRoot);
    std::string templ = kTestTmpRoot + "/upload_XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr) << std::strerror(errno);
    upload_dir_ = templ;
}

void TaggerSite::TearDown() {
    std::error_code ec;
    if (!upload_dir_.empty())
        fs::remove_all(upload_dir_, ec);
}

void TaggerSite::write_conf(const std::string &text) {
    write_file(kConfDir + "/velmotag.conf", text);
}

} // namespace e2e
