#include "tool_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

ToolRun run_tool(const std::string &program, const std::vector<std::string> &args,
                 const std::string &stdout_path) {
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        ADD_FAILURE() << "pipe failed";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdout_path.empty())
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdout_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);

    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    ToolRun run{-1, ""};
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << program;
        close(pipe_fds[0]);
        return run;
    }
    char buf[65536];
    for (ssize_t n; (n = read(pipe_fds[0], buf, sizeof buf)) > 0;)
        run.out.append(buf, static_cast<std::size_t>(n));
    close(pipe_fds[0]);
    int wstatus = 0;
    if (waitpid(pid, &wstatus, 0) != pid)
        ADD_FAILURE() << "waitpid failed";
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return run;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/velmo-tools-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        ADD_FAILURE() << "mkdtemp failed";
    dir_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    out.close();
    EXPECT_TRUE(out.good()) << "cannot write " << path;
}
