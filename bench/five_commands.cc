// five_commands: the peers that velmotag is measured against. For each
// archive named it runs the five Info-ZIP command lines that tag an archive
// (list, extract the description, store it back, set the comment, add the
// info file), one after another, without any work of its own in between:
//
//   five_commands system UNZIP ZIP CONF_DIR TMP_DIR ARCHIVE...
//       each line through system(), as velmotag's normal modes do
//   five_commands spawn UNZIP ZIP CONF_DIR TMP_DIR ARCHIVE...
//       each program started with posix_spawn, no shell
//   five_commands vfork UNZIP ZIP CONF_DIR TMP_DIR ARCHIVE...
//       each program started with vfork and execve, no shell: the cheapest
//       start (dash starts its simple commands this way too)
//
// The listing goes to TMP_DIR/peer_list and the description is extracted
// straight to FILE_ID.DIZ beside the archive, which is then stored as is.
// Exit status 0 once every archive has been walked, 1 on a bad command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

struct Paths {
    std::string unzip, zip, conf_dir, tmp_dir;
};

std::string dir_of(const std::string &archive) {
    const std::size_t slash = archive.rfind('/');
    return slash == std::string::npos ? "." : archive.substr(0, slash);
}

void run_line(const std::string &line) {
    if (std::system(line.c_str()) == -1)
        std::perror("system");
}

void through_system(const Paths &p, const std::string &a) {
    const std::string diz = dir_of(a) + "/FILE_ID.DIZ";
    run_line("( " + p.unzip + " -vqq " + a + " > " + p.tmp_dir + "/peer_list ) 2> /dev/null");
    run_line(p.unzip + " -Cqqp " + a + " FILE_ID.DIZ > " + diz + " 2>&1");
    run_line(p.zip + " -jqq " + a + " " + diz + " > /dev/null 2>&1");
    run_line(p.zip + " -zqq " + a + " < " + p.conf_dir + "/sitetag.asc > /dev/null 2>&1");
    run_line(p.zip + " -jqq " + a + " " + p.conf_dir + "/zorv97.nfo  > /dev/null 2>&1");
}

// Starts argv[0] with standard input or output opened on a file (empty for
// none) and waits for it.
void spawn_and_wait(std::vector<std::string> args, const std::string &in, const std::string &out) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        std::perror("posix_spawn_file_actions_init");
        return;
    }
    bool ready = true;
    if (!in.empty())
        ready = posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0) == 0;
    if (!out.empty())
        ready = ready && posix_spawn_file_actions_addopen(&actions, 1, out.c_str(),
                                                          O_WRONLY | O_CREAT | O_TRUNC, 0600) == 0;
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid;
    int status;
    if (ready && posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        waitpid(pid, &status, 0);
    else
        std::perror("posix_spawn");
    posix_spawn_file_actions_destroy(&actions);
}

// The vfork child: opens the redirections and becomes the program. Only
// system calls here, as the child shares the parent's memory.
[[noreturn]] void exec_redirected(char *const *argv, const char *in, const char *out) {
    if (in != nullptr) {
        const int fd = open(in, O_RDONLY);
        if (fd < 0 || dup2(fd, 0) < 0)
            _exit(127);
        close(fd);
    }
    if (out != nullptr) {
        const int fd = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || dup2(fd, 1) < 0)
            _exit(127);
        close(fd);
    }
    execve(argv[0], argv, environ);
    _exit(127);
}

// As spawn_and_wait, with vfork and execve: no stack of its own for the
// child and no signal bookkeeping, the cheapest start there is.
void vfork_and_wait(std::vector<std::string> args, const std::string &in, const std::string &out) {
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = vfork();
    if (pid == 0)
        exec_redirected(argv.data(), in.empty() ? nullptr : in.c_str(),
                        out.empty() ? nullptr : out.c_str());
    int status;
    if (pid > 0)
        waitpid(pid, &status, 0);
    else
        std::perror("vfork");
}

using Starter = void (*)(std::vector<std::string>, const std::string &, const std::string &);

void without_shell(Starter start, const Paths &p, const std::string &a) {
    const std::string diz = dir_of(a) + "/FILE_ID.DIZ";
    start({p.unzip, "-vqq", a}, "", p.tmp_dir + "/peer_list");
    start({p.unzip, "-Cqqp", a, "FILE_ID.DIZ"}, "", diz);
    start({p.zip, "-jqq", a, diz}, "", "");
    start({p.zip, "-zqq", a}, p.conf_dir + "/sitetag.asc", "");
    start({p.zip, "-jqq", a, p.conf_dir + "/velmo97.nfo"}, "", "");
}

} // namespace

int main(int argc, char **argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (argc < 6 || (mode != "system" && mode != "spawn" && mode != "vfork")) {
        std::fputs("usage: five_commands system|spawn|vfork UNZIP ZIP CONF_DIR TMP_DIR "
                   "ARCHIVE...\n",
                   stderr);
        return 1;
    }
    const Paths paths{argv[2], argv[3], argv[4], argv[5]};
    for (int i = 6; i < argc; ++i) {
        if (mode == "system")
            through_system(paths, argv[i]);
        else
            without_shell(mode == "spawn" ? spawn_and_wait : vfork_and_wait, paths, argv[i]);
    }
    return 0;
}
