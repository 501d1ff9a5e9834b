// bench_workload: writes the benchmark's input files, the same bytes on every
// run (a fixed-seed generator, no clock, no environment).
//
//   bench_workload store BLOCKS DIR
//       DIR/source.txt         dralgen's source: BLOCKS blocks named b0000000...
//       DIR/records.txt        the same names and payloads as cdb -c input
//       DIR/expected           the store dralgen must write from source.txt,
//       DIR/expected.dral      built here independently (docs/store-format.md)
//       DIR/expected-plain.txt drallist's listing of it, without and with
//       DIR/expected-details.txt  the block details
//
//   bench_workload upload SIZE SEED DIR
//       DIR/FILE_ID.DIZ        a 10-line description with CR LF line ends
//       DIR/data.bin           SIZE bytes that do not compress
//
// Exit status 0 on success, 1 on a bad command line or a failed write.
#include "le32.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] = "usage: bench_workload store BLOCKS DIR\n"
                          "       bench_workload upload SIZE SEED DIR\n";
constexpr std::uint64_t kStoreSeed = 0x76656c6d6f;
constexpr std::size_t kStreamBufferBytes = 1 << 20;

// splitmix64: tiny, fast and the same on every host.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // A number in [low, high].
    int between(int low, int high) {
        return low + static_cast<int>(next() % static_cast<std::uint64_t>(high - low + 1));
    }

  private:
    std::uint64_t state_;
};

// An output file with a large buffer; close() tells whether every byte made
// it to the file.
class Output {
  public:
    explicit Output(const std::string &path)
        : path_(path), buffer_(std::make_unique<char[]>(kStreamBufferBytes)),
          file_(std::fopen(path.c_str(), "wb")) {
        if (file_)
            std::setvbuf(file_, buffer_.get(), _IOFBF, kStreamBufferBytes);
    }
    ~Output() {
        if (file_)
            std::fclose(file_);
    }
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    void write(const void *bytes, std::size_t n) {
        if (file_ && std::fwrite(bytes, 1, n, file_) != n)
            failed_ = true;
    }
    void write(const std::string &s) { write(s.data(), s.size()); }

    bool close() {
        if (!file_ || std::fclose(file_) != 0)
            failed_ = true;
        file_ = nullptr;
        if (failed_)
            std::fprintf(stderr, "bench_workload: cannot write %s\n", path_.c_str());
        return !failed_;
    }

  private:
    std::string path_;
    std::unique_ptr<char[]> buffer_;
    std::FILE *file_;
    bool failed_ = false;
};

// A line of lower-case words of `length` characters, with its line feed.
std::string text_line(Random &random, int length) {
    static constexpr char kLetters[] = "etaoinshrdlucmfwypvbgkjqxz";
    std::string line;
    while (static_cast<int>(line.size()) < length) {
        if (!line.empty() && random.between(0, 5) == 0)
            line += ' ';
        else
            line += kLetters[random.between(0, 25)];
    }
    line += '\n';
    return line;
}

std::string le32_bytes(std::int32_t value) {
    unsigned char bytes[velmo::kLe32Size];
    velmo::encode_le32(value, bytes);
    return std::string(reinterpret_cast<const char *>(bytes), velmo::kLe32Size);
}

// Three text lines of 40 to 80 characters per block: with its start and end
// lines a block takes about 214 bytes of source.
bool write_store(long blocks, const std::string &dir) {
    Output source(dir + "/source.txt");
    Output records(dir + "/records.txt");
    Output data(dir + "/expected");
    Output index(dir + "/expected.dral");
    Output plain(dir + "/expected-plain.txt");
    Output details(dir + "/expected-details.txt");
    Random random(kStoreSeed);
    std::int64_t offset = 0;
    char name[9];
    char line[128];
    for (long n = 0; n < blocks; ++n) {
        std::snprintf(name, sizeof name, "b%07ld", n % 10000000);
        std::string payload;
        for (int i = 0; i < 3; ++i)
            payload += text_line(random, random.between(40, 80));
        const auto size = static_cast<std::int32_t>(payload.size());

        source.write("BLOCK START " + std::string(name) + "\n" + payload + "BLOCK END\n");
        records.write("+8," + std::to_string(size) + ":" + name + "->" + payload + "\n");
        data.write(le32_bytes(2) + le32_bytes(size) + payload);
        index.write(std::string(name, 8) + le32_bytes(static_cast<std::int32_t>(offset)));
        int len = std::snprintf(line, sizeof line, "DRAL %ld: name: %s (data offset %lld)", n, name,
                                static_cast<long long>(offset));
        plain.write(line, static_cast<std::size_t>(len));
        plain.write("\n", 1);
        details.write(line, static_cast<std::size_t>(len));
        len = std::snprintf(line, sizeof line, "( datatype 2 datasize %d )\n", size);
        details.write(line, static_cast<std::size_t>(len));
        offset += 8 + size;
    }
    records.write("\n", 1); // cdb's input ends with an empty line
    index.write("\n\n\n\n\n\n\n\n", 8);
    plain.write("DRALEND detected.\n");
    details.write("DRALEND detected.\n");
    bool ok = source.close();
    ok = records.close() && ok;
    ok = data.close() && ok;
    ok = index.close() && ok;
    ok = plain.close() && ok;
    return details.close() && ok;
}

bool write_upload(long size, std::uint64_t seed, const std::string &dir) {
    Random random(seed);
    Output diz(dir + "/FILE_ID.DIZ");
    for (int i = 0; i < 10; ++i) {
        std::string line = text_line(random, random.between(20, 44));
        line.back() = '\r';
        diz.write(line + "\n");
    }
    Output bin(dir + "/data.bin");
    std::vector<std::uint64_t> chunk(8192);
    for (long left = size; left > 0;) {
        for (std::uint64_t &word : chunk)
            word = random.next();
        const long n = std::min<long>(left, static_cast<long>(chunk.size() * sizeof chunk[0]));
        bin.write(chunk.data(), static_cast<std::size_t>(n));
        left -= n;
    }
    bool ok = diz.close();
    return bin.close() && ok;
}

bool parse_count(const char *text, long *out) {
    char *end = nullptr;
    *out = std::strtol(text, &end, 10);
    return *text != '\0' && *end == '\0' && *out >= 0;
}

} // namespace

int main(int argc, char **argv) {
    long number = 0;
    long seed = 0;
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "store" && argc == 4 && parse_count(argv[2], &number))
        return write_store(number, argv[3]) ? 0 : 1;
    if (mode == "upload" && argc == 5 && parse_count(argv[2], &number) &&
        parse_count(argv[3], &seed))
        return write_upload(number, static_cast<std::uint64_t>(seed), argv[4]) ? 0 : 1;
    std::fputs(kUsage, stderr);
    return 1;
}
