// The user identifier registry: a text file of two-line records, a name (at
// most 12 characters) and a five-digit identifier, written "%s\n%05d\n".
// Every operation opens the file, works through it and closes it again.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "draldb.h"
#include "file_ptr.h"

namespace {

constexpr size_t kNameLength = 12;
constexpr size_t kIdLength = 5;
constexpr int32_t kLargestId = 99999;

struct Record {
    char name[kNameLength + 1];
    char id[kIdLength + 1];
};

// Keeps the first max_length bytes of line, without its line feed.
void take_line(const char *line, size_t max_length, char *out) {
    size_t length = strcspn(line, "\n");
    if (length > max_length)
        length = max_length;
    std::memcpy(out, line, length);
    out[length] = '\0';
}

// Reads complete records in file order; a name line without its identifier
// line at the end of the file is no record.
class RecordReader {
  public:
    explicit RecordReader(FILE *file) : file_(file) {}
    ~RecordReader() { std::free(line_); }
    RecordReader(const RecordReader &) = delete;
    RecordReader &operator=(const RecordReader &) = delete;

    bool next(Record &record) {
        if (getline(&line_, &capacity_, file_) < 0)
            return false;
        take_line(line_, kNameLength, record.name);
        if (getline(&line_, &capacity_, file_) < 0)
            return false;
        take_line(line_, kIdLength, record.id);
        return true;
    }

  private:
    FILE *file_;
    char *line_ = nullptr;
    size_t capacity_ = 0;
};

// One write(2) on a descriptor opened for appending puts the whole record at
// the file's end at once, so records of concurrent writers never interleave.
int append_record(const char *path, const char *record, size_t length) {
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    ssize_t written;
    do {
        written = write(fd, record, length);
    } while (written < 0 && errno == EINTR);
    const bool complete = written == static_cast<ssize_t>(length);
    return close(fd) == 0 && complete ? 0 : -1;
}

} // namespace

extern "C" {

int write_id(const char *path, const char *name, int32_t id) {
    // A larger number would read back as its first five digits, and a line
    // feed in the name would start a record of its own.
    if (id < 0 || id > kLargestId || std::strchr(name, '\n') != nullptr)
        return -1;
    char record[kNameLength + kIdLength + 3];
    const int length = std::snprintf(record, sizeof record, "%.*s\n%05d\n",
                                     static_cast<int>(kNameLength), name, id);
    if (length < 0 || static_cast<size_t>(length) >= sizeof record)
        return -1;
    return append_record(path, record, static_cast<size_t>(length));
}

int uname_to_id(const char *path, const char *name, char *id_out) {
    const velmo::FilePtr file = velmo::open_file(path, "r");
    if (!file)
        return 0;
    RecordReader reader(file.get());
    Record record{};
    while (reader.next(record)) {
        std::printf("Chexoring: %s %s\n", record.name, record.id);
        if (std::strcmp(record.name, name) == 0) {
            std::memcpy(id_out, record.id, std::strlen(record.id) + 1);
            return 1;
        }
    }
    return 0;
}

int32_t next_id(const char *path) {
    const velmo::FilePtr file = velmo::open_file(path, "r");
    if (!file)
        return 0;
    RecordReader reader(file.get());
    Record record{};
    int32_t next = 0;
    while (reader.next(record)) {
        // Five characters at most, so the number cannot overflow.
        const int32_t id = std::atoi(record.id);
        if (id + 1 > next)
            next = id + 1;
    }
    return next;
}

} // extern "C"
