// Each text is a fixed sequence of "key value" lines, then "sum" and the
// FNV-1a hash of every byte before that line. A decoder takes exactly that
// sequence, numbers in plain decimal, names in hex, and nothing after the
// sum line but the padding ('\n' or NUL) that a fixed-size slot leaves.
#include "change_record.h"

#include "file_ptr.h"
#include "fnv1a.h"
#include "private_dirs.h"

#include <cassert>
#include <charconv>
#include <cstdio>
#include <vector>

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

std::string to_hex(std::string_view bytes) {
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += kHexDigits[c >> 4];
        hex += kHexDigits[c & 15];
    }
    return hex;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool from_hex(std::string_view hex, std::string *bytes) {
    if (hex.size() % 2 != 0)
        return false;
    bytes->clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hex_value(hex[i]), low = hex_value(hex[i + 1]);
        if (high < 0 || low < 0)
            return false;
        *bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}

std::string time_text(const timespec &t) {
    return std::to_string(t.tv_sec) + " " + std::to_string(t.tv_nsec);
}

// Closes a text with its checksum line.
std::string sealed(std::string text) {
    return text + "sum " + fnv1a64_hex(text) + "\n";
}

// The lines of a sealed text, without their line feeds; false when the
// text is not sealed by its checksum or has more than padding after it.
bool unseal(std::string_view text, std::vector<std::string_view> *lines) {
    std::size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\0'))
        --end;
    if (end == 0 || end == text.size())
        return false;
    const std::size_t last = text.rfind('\n', end - 1);
    const std::size_t sum_at = last == std::string_view::npos ? 0 : last + 1;
    const std::string_view sum = text.substr(sum_at, end - sum_at);
    const std::string_view body = text.substr(0, sum_at);
    if (sum.size() != 20 || sum.substr(0, 4) != "sum " || sum.substr(4) != fnv1a64_hex(body))
        return false;
    lines->clear();
    for (std::size_t at = 0; at < body.size();) {
        const std::size_t nl = body.find('\n', at);
        lines->push_back(body.substr(at, nl - at));
        at = nl + 1;
    }
    return true;
}

// Splits "key value..." lines one field at a time.
class Fields {
  public:
    explicit Fields(std::string_view line) : rest_(line) {}

    bool word(std::string_view *out) {
        if (rest_.empty())
            return false;
        const std::size_t blank = rest_.find(' ');
        *out = rest_.substr(0, blank);
        rest_ = blank == std::string_view::npos ? std::string_view() : rest_.substr(blank + 1);
        return !out->empty();
    }
    bool expect(std::string_view wanted) {
        std::string_view got;
        return word(&got) && got == wanted;
    }
    template <typename T> bool number(T *out) {
        std::string_view text;
        if (!word(&text) || text[0] < '0' || text[0] > '9')
            return false;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *out);
        return error == std::errc() && end == text.data() + text.size() &&
               (text.size() == 1 || text[0] != '0');
    }
    bool time(timespec *out) {
        long long sec = 0, nsec = 0;
        if (!number(&sec) || !number(&nsec) || sec < 0 || nsec < 0 || nsec >= 1000000000)
            return false;
        out->tv_sec = static_cast<time_t>(sec);
        out->tv_nsec = static_cast<long>(nsec);
        return true;
    }
    bool hex(std::string *out) {
        std::string_view text;
        return word(&text) && from_hex(text, out);
    }
    bool done() const { return rest_.empty(); }

  private:
    std::string_view rest_;
};

const char *kind_word(BackupKind kind) {
    switch (kind) {
    case BackupKind::Inline:
        return "inline";
    case BackupKind::Copy:
        return "copy";
    case BackupKind::Exchange:
        return "exchange";
    case BackupKind::WorkingCopy:
        return "work";
    }
    return "";
}

const char *state_word(ChangeState state) {
    switch (state) {
    case ChangeState::Ready:
        return "ready";
    case ChangeState::StepRunning:
        return "running";
    case ChangeState::StepEnded:
        return "ended";
    case ChangeState::Complete:
        return "complete";
    }
    return "";
}

template <typename E, std::size_t N>
bool from_word(std::string_view word, const E (&values)[N], const char *(*name)(E), E *out) {
    for (E value : values) {
        if (word == name(value)) {
            *out = value;
            return true;
        }
    }
    return false;
}

} // namespace

std::string encode_record(const ChangeRecord &r) {
    const FileIdentity &o = r.original;
    return sealed("velmotag change 2\nkind " + std::string(kind_word(r.kind)) + "\ndir " +
                  to_hex(r.dir_path) + "\narchive " + to_hex(r.archive) + "\nprivate " +
                  (r.private_name.empty() ? "-" : to_hex(r.private_name)) + "\nuid " +
                  std::to_string(r.archivers_uid) + "\noriginal " + std::to_string(o.dev) + " " +
                  std::to_string(o.ino) + " " + std::to_string(o.size) + " " + time_text(o.mtime) +
                  "\nowner " + std::to_string(r.owner) + " " + std::to_string(r.group) + " " +
                  std::to_string(r.mode) + " " + time_text(r.atime) + "\nbegun " +
                  time_text(r.begun) + "\nboot " + (r.boot_id.empty() ? "-" : to_hex(r.boot_id)) +
                  "\n");
}

namespace {

// A name within one directory.
bool plain_name(const std::string &name) {
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

// A hex field that may stand for nothing ("-").
bool optional_hex(Fields &fields, std::string *out) {
    std::string_view word;
    if (!fields.word(&word))
        return false;
    out->clear();
    return word == "-" || from_hex(word, out);
}

} // namespace

bool decode_record(std::string_view text, ChangeRecord *r) {
    std::vector<std::string_view> lines;
    if (!unseal(text, &lines) || lines.size() != 10 || lines[0] != "velmotag change 2")
        return false;
    std::string_view word;
    Fields kind(lines[1]), dir(lines[2]), archive(lines[3]), private_name(lines[4]), uid(lines[5]),
        original(lines[6]), owner(lines[7]), begun(lines[8]), boot(lines[9]);
    static constexpr BackupKind kKinds[] = {BackupKind::Inline, BackupKind::Copy,
                                            BackupKind::Exchange, BackupKind::WorkingCopy};
    FileIdentity &o = r->original;
    if (!kind.expect("kind") || !kind.word(&word) ||
        !from_word(word, kKinds, kind_word, &r->kind) || !kind.done() || !dir.expect("dir") ||
        !dir.hex(&r->dir_path) || !dir.done() || !archive.expect("archive") ||
        !archive.hex(&r->archive) || !archive.done() || !private_name.expect("private") ||
        !optional_hex(private_name, &r->private_name) || !private_name.done() ||
        !uid.expect("uid") || !uid.number(&r->archivers_uid) || !uid.done() ||
        !original.expect("original") || !original.number(&o.dev) || !original.number(&o.ino) ||
        !original.number(&o.size) || !original.time(&o.mtime) || !original.done() ||
        !owner.expect("owner") || !owner.number(&r->owner) || !owner.number(&r->group) ||
        !owner.number(&r->mode) || !owner.time(&r->atime) || !owner.done() ||
        !begun.expect("begun") || !begun.time(&r->begun) || !begun.done() || !boot.expect("boot") ||
        !optional_hex(boot, &r->boot_id) || !boot.done())
        return false;
    // A record leads to one archive and, beside it, to one of the tagger's
    // own private directories; never elsewhere.
    const bool needs_private = r->kind != BackupKind::Inline;
    return !r->dir_path.empty() && r->dir_path[0] == '/' && plain_name(r->archive) &&
           (needs_private
                ? r->private_name.rfind(kPrivatePrefix, 0) == 0 && plain_name(r->private_name)
                : r->private_name.empty());
}

std::string encode_progress(const ChangeProgress &p) {
    std::string text =
        sealed("velmotag progress 1\nstate " + std::string(state_word(p.state)) + "\nstep " +
               std::to_string(p.step) + (p.child > 0 ? " " + std::to_string(p.child) : "") +
               "\nstart " + time_text(p.step_start) + "\nseen " + time_text(p.last_seen) + "\n");
    assert(text.size() <= kProgressSize);
    text.resize(kProgressSize, '\n');
    return text;
}

bool decode_progress(std::string_view text, ChangeProgress *p) {
    std::vector<std::string_view> lines;
    if (!unseal(text, &lines) || lines.size() != 5 || lines[0] != "velmotag progress 1")
        return false;
    static constexpr ChangeState kStates[] = {ChangeState::Ready, ChangeState::StepRunning,
                                              ChangeState::StepEnded, ChangeState::Complete};
    std::string_view word;
    Fields state(lines[1]), step(lines[2]), start(lines[3]), seen(lines[4]);
    return state.expect("state") && state.word(&word) &&
           from_word(word, kStates, state_word, &p->state) && state.done() && step.expect("step") &&
           step.number(&p->step) && (step.done() || (step.number(&p->child) && step.done())) &&
           start.expect("start") && start.time(&p->step_start) && start.done() &&
           seen.expect("seen") && seen.time(&p->last_seen) && seen.done();
}

namespace {

std::string read_boot_id() {
    char id[64] = "";
    velmo::FilePtr file = velmo::open_file("/proc/sys/kernel/random/boot_id", "r");
    if (!file || !std::fgets(id, sizeof id, file.get()))
        return "";
    std::string text = id;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

} // namespace

const std::string &current_boot_id() {
    static const std::string id = read_boot_id();
    return id;
}
