#include "quorrel/original.h"

#include "quorrel/output_file.h"

#include <qpdf/QPDFCryptoProvider.hh>
#include <qpdf/QUtil.hh>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorrel {

namespace {

constexpr const char *kKey = "/OrvaneOriginal";
constexpr const char *kOriginalDigits = "/SHA256 <";
constexpr const char *kUpdateDigits = "/Update <";
constexpr size_t kDigits = 64;
// Far more than the trailer of any update this program writes lies from
// the end of the file.
constexpr long long kTailSearched = 64LL << 20;
constexpr size_t kChunk = 1 << 20;

// Reads `length` bytes at `from` into `into`; false when they cannot all
// be read.
bool ReadAt(int fd, long long from, size_t length, char *into) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, into + done, length - done, off_t(from + (long long)done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// The SHA-256 of bytes `from` to `to` of `fd`, in hex, with the bytes at
// `blank` (kDigits of them, when not negative) taken as '0's.
std::optional<std::string> Digest(int fd, long long from, long long to, long long blank, std::string &why,
                                  const std::function<void(long long)> &done = {},
                                  const std::atomic<bool> *stop = nullptr) {
    auto sha = QPDFCryptoProvider::getImpl();
    sha->SHA2_init(256);
    std::vector<char> buffer(kChunk);
    for (long long at = from; at < to;) {
        if (stop && *stop) {
            why = "it was not read to its end";
            return std::nullopt;
        }
        const size_t n = size_t(std::min<long long>((long long)kChunk, to - at));
        errno = 0;
        if (!ReadAt(fd, at, n, buffer.data())) {
            why = errno ? std::string("it cannot be read (") + std::strerror(errno) + ")"
                        : std::string("it ended before its end was read");
            return std::nullopt;
        }
        if (blank >= 0)
            for (long long b = std::max(blank, at); b < std::min(blank + (long long)kDigits, at + (long long)n); ++b)
                buffer[size_t(b - at)] = '0';
        sha->SHA2_update(reinterpret_cast<const unsigned char *>(buffer.data()), n);
        at += (long long)n;
        if (done)
            done(at - from);
    }
    sha->SHA2_finalize();
    return QUtil::hex_encode(sha->SHA2_digest());
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

const char *WholeReason(const std::string &name) {
    if (name == "/HiddenRemoved")
        return "what its crops hid was removed";
    if (name == "/Rewritten")
        return "a whole new file was asked for";
    if (name == "/Repaired")
        return "its original had to be repaired to be read";
    if (name == "/Straightened")
        return "pages were straightened";
    if (name == "/PagesLeftOut")
        return "pages were left out";
    if (name == "/MarginsAdded")
        return "margins were added";
    return "its original could not take an update";
}

// What the record says, read from its text.
struct Record {
    long long length = -1;
    std::string sha256, update, whole;
    long long updateAt = -1;  // where the update's digits are in the file
};

// The value after `name` in `dict` (up to the next space, '/' or '>'),
// or empty; `at` gets where it starts.
std::string ValueOf(const std::string &dict, const std::string &name, size_t &at) {
    size_t p = dict.find(name + " ");
    if (p == std::string::npos)
        return {};
    p += name.size() + 1;
    size_t end = p;
    if (end < dict.size() && (dict[end] == '<' || dict[end] == '/'))
        ++end;
    while (end < dict.size() && dict[end] != ' ' && dict[end] != '/' && dict[end] != '>')
        ++end;
    if (end < dict.size() && dict[end] == '>' && dict[p] == '<')
        ++end;
    at = p;
    return dict.substr(p, end - p);
}

bool HexDigits(const std::string &s) {
    return s.size() == kDigits + 2 && s.front() == '<' && s.back() == '>' &&
           std::all_of(s.begin() + 1, s.end() - 1, [](char c) { return std::isxdigit((unsigned char)c); });
}

}  // namespace

std::optional<std::string> Sha256OfFile(int fd, long long length, std::string &why, const std::atomic<bool> *stop) {
    return Digest(fd, 0, length, -1, why, {}, stop);
}

const char *RecordKey() { return kKey; }

const char *WholeName(Whole why) {
    switch (why) {
    case Whole::HiddenRemoved:
        return "/HiddenRemoved";
    case Whole::Rewritten:
        return "/Rewritten";
    case Whole::Repaired:
        return "/Repaired";
    case Whole::Straightened:
        return "/Straightened";
    case Whole::PagesLeftOut:
        return "/PagesLeftOut";
    case Whole::MarginsAdded:
        return "/MarginsAdded";
    case Whole::NoUpdate:
        break;
    }
    return "/NoUpdate";
}

std::string UpdateRecord(long long length) {
    return std::string(" ") + kKey + " << /Length " + std::to_string(length) + " " + kOriginalDigits +
           std::string(kDigits, '0') + "> " + kUpdateDigits + std::string(kDigits, '0') + "> >>";
}

void SealUpdate(std::string &update, const std::string &sha256) {
    const std::string zeros = std::string(kDigits, '0') + ">";
    const size_t original = update.rfind(kOriginalDigits + zeros);
    const size_t at = update.rfind(kUpdateDigits + zeros);
    if (original == std::string::npos || at == std::string::npos || sha256.size() != kDigits)
        throw std::logic_error("the update holds no record of its original");
    update.replace(original + std::strlen(kOriginalDigits), kDigits, sha256);
    auto sha = QPDFCryptoProvider::getImpl();
    sha->SHA2_init(256);
    sha->SHA2_update(reinterpret_cast<const unsigned char *>(update.data()), update.size());
    sha->SHA2_finalize();
    update.replace(at + std::strlen(kUpdateDigits), kDigits, QUtil::hex_encode(sha->SHA2_digest()));
}

bool RestoreOriginal(const std::string &copy, const std::string &out, bool overwrite, std::string &why,
                     const std::function<void(int)> &progress) {
    Fd in;
    in.fd = ::open(copy.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st = {};
    if (in.fd < 0 || ::fstat(in.fd, &st) != 0) {
        why = copy + " cannot be read: " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = copy + " is not a file";
        return false;
    }
    struct stat target = {};
    if (::stat(out.c_str(), &target) == 0 && target.st_dev == st.st_dev && target.st_ino == st.st_ino) {
        why = "the original would be written over the copy it comes from; give another file to write";
        return false;
    }
    const long long size = st.st_size;
    const long long tailFrom = std::max(0LL, size - kTailSearched);
    std::string tail(size_t(size - tailFrom), '\0');
    if (!ReadAt(in.fd, tailFrom, tail.size(), tail.data())) {
        why = copy + " cannot be read: " + std::strerror(errno ? errno : EIO);
        return false;
    }
    const size_t key = tail.rfind(std::string(kKey) + " <<");
    const size_t end = key == std::string::npos ? key : tail.find(">>", key);
    const std::string notOurs = copy +
                                " is not a cropped copy written as an update of its original: it holds no record of "
                                "an original to give back";
    if (end == std::string::npos) {
        why = notOurs;
        return false;
    }
    const std::string dict = tail.substr(key, end + 2 - key);
    Record record;
    size_t at = 0;
    record.whole = ValueOf(dict, "/Whole", at);
    if (!record.whole.empty()) {
        why = copy + " was written as a whole new file, because " + WholeReason(record.whole) +
              ", so the bytes of its original are not in it";
        return false;
    }
    const std::string length = ValueOf(dict, "/Length", at);
    record.sha256 = ValueOf(dict, "/SHA256", at);
    record.update = ValueOf(dict, "/Update", at);
    record.updateAt = tailFrom + (long long)(key + at) + 1;
    const bool digits = !length.empty() && length.size() < 19 &&
                        std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits)
        record.length = std::stoll(length);
    if (!digits || !HexDigits(record.sha256) || !HexDigits(record.update) || record.length <= 0 ||
        record.length > tailFrom + (long long)key) {
        why = notOurs;
        return false;
    }
    const std::string changed =
        copy + " was changed after it was written (saved again by another program, or its bytes altered), so its "
               "original cannot be given back from it";
    // The update as written, then the original's bytes: the share done
    // follows the bytes read, then those copied.
    const double total = double(record.length) * 2 + double(size - record.length);
    auto tell = [&](double bytes) {
        if (progress)
            progress(int(std::min(100.0, bytes * 100 / total)));
    };
    std::string unread;
    const std::optional<std::string> update =
        Digest(in.fd, record.length, size, record.updateAt, unread, [&](long long b) { tell(double(b)); });
    if (!update) {
        why = copy + " cannot be read: " + unread;
        return false;
    }
    if ("<" + *update + ">" != record.update) {
        why = changed;
        return false;
    }
    const std::optional<std::string> original = Digest(
        in.fd, 0, record.length, -1, unread, [&](long long b) { tell(double(size - record.length) + double(b)); });
    if (!original) {
        why = copy + " cannot be read: " + unread;
        return false;
    }
    if ("<" + *original + ">" != record.sha256) {
        why = changed;
        return false;
    }
    OutputFile output(out, overwrite);
    if (!output.Open(why))
        return false;
    try {
        output.CopyFrom(in.fd, record.length,
                        [&](long long b) { tell(double(size - record.length) + double(record.length) + double(b)); });
    } catch (const std::runtime_error &e) {
        why = e.what();
        return false;
    }
    return output.Commit(why);
}

}  // namespace quorrel
