// Helpers for the store tools' end-to-end tests: run a built program,
// and keep the files it works on in a temporary directory.
#ifndef VELMO_TESTS_TOOLS_TOOL_RUN_H
#define VELMO_TESTS_TOOLS_TOOL_RUN_H

#include <string>
#include <vector>

struct ToolRun {
    int status; // exit status, or 128 + signal number
    std::string out;
};

// Runs `program` with `args` and waits for it. Its standard output is
// captured in ToolRun::out, or written to `stdout_path` when one is given.
ToolRun run_tool(const std::string &program, const std::vector<std::string> &args,
                 const std::string &stdout_path = "");

// A directory under /tmp, removed with everything in it on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    std::string path(const std::string &name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
};

// Whole-file helpers; they fail the current test on an I/O error.
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);

#endif
