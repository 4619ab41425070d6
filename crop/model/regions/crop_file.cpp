#include "crop/model/regions/crop_file.h"

#include "crop/model/regions/crop_set.h"
#include "platform/file_identity.h"
#include "platform/ini_file.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace crop {
namespace {

constexpr const char *kPageSection = "PAGE";
constexpr const char *kLeftOutSection = "LEFTOUT";
constexpr const char *kRotateSection = "ROTATE";
constexpr const char *kScaleSection = "SCALE";

// A scale as the crop file holds it: from 0.01 to below 1; 1 for anything else.
double ScaleValue(const std::optional<std::string> &value) {
    double scale = 1;
    if (!value)
        return 1;
    const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), scale);
    if (ec != std::errc() || end != value->data() + value->size() || !(scale >= 0.01 && scale < 1))
        return 1;
    return scale;
}

// A rotation as the crop file holds it: 90, 180 or 270; 0 for anything else.
int RotationValue(const std::optional<std::string> &value) {
    if (!value)
        return 0;
    return *value == "90" ? 90 : *value == "180" ? 180 : *value == "270" ? 270 : 0;
}
constexpr const char *kFlagSection = "AutoShrink";
constexpr const char *kFlagKey = "flag";
constexpr const char *kNoRectangle = "0.00,0.00,0.00,0.00";
// Numbers past this are no page's; kept finite so that every later
// conversion stays defined.
constexpr double kLargest = 1.0e9;

std::string PageKey(int page, int region = 1) {
    return "page" + std::to_string(page) + (region > 1 ? "." + std::to_string(region) : std::string());
}
// Keys past the last region a page may have are never read.
constexpr int kMostRegions = CropSet::kMaxRegions;

// Where an instance keeps its rectangles aside when it is ended from
// outside: "croprect.unsaved-<pid>.ini".
constexpr const char *kKeptPrefix = "croprect.unsaved-";
constexpr const char *kDocumentSection = "Document";

// Every region of the page in `ini`: "page<n>" first, then "page<n>.2",
// "page<n>.3" and so on, as long as they follow each other.
std::vector<std::string> ValuesIn(const platform::IniDocument &ini, int page);

// The own files of instances that do not own the shared file:
// "croprect.<pid>-<n>.ini".
std::string OwnFileName(long pid, int n) {
    return "croprect." + std::to_string(pid) + "-" + std::to_string(n) + ".ini";
}

// Removes what instances that have since gone left behind: their own files,
// and files of a write cut short (".croprect.ini.XXXXXX") that are old
// enough to be no write in progress.
void RemoveStaleFiles(const std::filesystem::path &folder) {
    std::error_code ec;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code ignored;
        if (name.size() == std::string(".croprect.ini.XXXXXX").size() && name.rfind(".croprect.ini.", 0) == 0) {
            const auto written = std::filesystem::last_write_time(it->path(), ignored);
            if (!ignored && now - written > std::chrono::minutes(10))
                std::filesystem::remove(it->path(), ignored);
            continue;
        }
        long pid = 0;
        int n = 0;
        char tail[8] = {};
        if (std::sscanf(name.c_str(), "croprect.%ld-%d.%4s", &pid, &n, tail) != 3 || std::string(tail) != "ini" ||
            name != OwnFileName(pid, n) || pid <= 0)
            continue;
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            std::filesystem::remove(it->path(), ignored);
    }
}

}  // namespace

double AtoF(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        return 0;  // one sign only
    std::string_view rest = text.substr(i);
    double value = 0;
    if (rest.size() > 1 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X'))
        std::from_chars(rest.data() + 2, rest.data() + rest.size(), value, std::chars_format::hex);
    else
        std::from_chars(rest.data(), rest.data() + rest.size(), value, std::chars_format::general);
    if (!std::isfinite(value))
        return 0;
    value = std::clamp(value, -kLargest, kLargest);
    return negative ? -value : value;
}

std::array<double, 4> ParsePageValue(std::string_view value) {
    std::array<double, 4> numbers{};
    for (size_t field = 0; field < numbers.size(); ++field) {
        const size_t comma = value.find(',');
        numbers[field] = AtoF(value.substr(0, comma));
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    return numbers;
}

double PageTurn(std::string_view value) {
    for (int field = 0; field < 4; ++field) {
        const size_t comma = value.find(',');
        if (comma == std::string_view::npos)
            return 0;
        value.remove_prefix(comma + 1);
    }
    const double turn = AtoF(value.substr(0, value.find(',')));
    return std::isfinite(turn) && std::fabs(turn) <= 45 ? std::round(turn * 100) / 100 : 0;
}

std::string WithTurn(std::string_view value, double turn) {
    std::string out = FormatPageValue(ParsePageValue(value));
    turn = std::round(turn * 100) / 100;
    if (turn != 0 && std::isfinite(turn)) {
        char buffer[32];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, turn, std::chars_format::fixed, 2);
        out += ',';
        out.append(buffer, ec == std::errc() ? end : buffer);
    }
    return out;
}

std::string ScaleText(double scale) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, scale, std::chars_format::fixed, 6);
    return std::string(buffer, ec == std::errc() ? end : buffer);
}

std::string FormatPageValue(const std::array<double, 4> &numbers) {
    std::string out;
    char buffer[64];
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (i)
            out.push_back(',');
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, numbers[i], std::chars_format::fixed, 2);
        out.append(buffer, ec == std::errc() ? end : buffer);
    }
    return out;
}

std::string PageValueFor(const CropRect &rect, int pageHeight) {
    const double h = pageHeight;
    return FormatPageValue({double(float(rect.left)), double(float(h - rect.top)), double(float(rect.right)),
                            double(float(h - rect.bottom))});
}

CropRect RectFromPageValue(std::string_view value, int pageHeight) {
    const std::array<double, 4> n = ParsePageValue(value);
    const float x1 = float(n[0]), y1 = float(n[1]), x2 = float(n[2]), y2 = float(n[3]);
    if (std::trunc(x1) == 0 && std::trunc(y1) == 0 && std::trunc(x2) == 0 && std::trunc(y2) == 0)
        return {};
    const double h = pageHeight;
    return {double(x1), h - double(y1), double(x2), h - double(y2)};
}

class CropFile::WriteLock {
public:
    explicit WriteLock(int fd) : m_fd(fd) { Lock(F_WRLCK, F_OFD_SETLKW); }
    ~WriteLock() { Lock(F_UNLCK, F_OFD_SETLK); }
    WriteLock(const WriteLock &) = delete;
    WriteLock &operator=(const WriteLock &) = delete;

private:
    // Byte 1 of the lock file; byte 0 marks the owner.
    void Lock(short type, int command) {
        if (m_fd < 0)
            return;
        struct flock region = {};
        region.l_type = type;
        region.l_whence = SEEK_SET;
        region.l_start = 1;
        region.l_len = 1;
        while (::fcntl(m_fd, command, &region) != 0 && errno == EINTR) {
        }
    }
    int m_fd;
};

CropFile::CropFile(const std::string &folder) : m_ini(std::make_unique<platform::IniDocument>()) {
    if (folder.empty())
        return;
    const std::filesystem::path dir(folder);
    m_sharedPath = (dir / kFileName).string();
    m_path = m_sharedPath;
    const std::string lockPath = m_sharedPath + ".lock";
    // Never through a link: one planted at the name would have the lock
    // file made or opened elsewhere.
    m_lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666);
    bool owns = false;
    if (m_lockFd >= 0) {
        // Byte 0 of the lock file, held for as long as this instance lives.
        struct flock region = {};
        region.l_type = F_WRLCK;
        region.l_whence = SEEK_SET;
        region.l_start = 0;
        region.l_len = 1;
        int result;
        while ((result = ::fcntl(m_lockFd, F_OFD_SETLK, &region)) != 0 && errno == EINTR) {
        }
        owns = result == 0;
    }
    if (owns) {
        RemoveStaleFiles(dir);
    } else {
        // Another running instance owns the shared file, or the lock
        // cannot be had (a lock file of another user): this instance never
        // writes the rectangles into the shared file.
        static std::atomic<int> counter{0};
        m_path = (dir / OwnFileName(long(::getpid()), ++counter)).string();
    }
    ReadSharedFlag();
    if (OwnsSharedFile()) {
        std::string bytes, error;
        if (platform::ReadWholeFile(m_path, bytes, error, kLargestFile))
            *m_ini = platform::IniDocument::Parse(bytes);
        else if (!error.empty())
            m_problem = "The crop file " + m_path + " was not read: " + error + ".";
    }
}

CropFile::~CropFile() {
    if (!OwnsSharedFile() && !m_path.empty())
        ::unlink(m_path.c_str());
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

void CropFile::ReadSharedFlag() {
    if (m_sharedPath.empty())
        return;
    // Read again only when another instance has written it since.
    const std::string stamp = platform::FileStamp(m_sharedPath);
    if (!stamp.empty() && stamp == m_sharedStamp)
        return;
    std::string bytes, error;
    if (platform::ReadWholeFile(m_sharedPath, bytes, error, kLargestFile)) {
        m_autoShrink = platform::IniDocument::Parse(bytes).GetInt(kFlagSection, kFlagKey, 0) != 0;
        m_sharedStamp = stamp;
        ++m_reads;
    }
}

bool CropFile::AutoShrink() {
    ReadSharedFlag();
    return m_autoShrink;
}

bool CropFile::Reset(std::string &error) {
    const bool previous = m_autoShrink;
    ReadSharedFlag();
    *m_ini = platform::IniDocument();
    if (OwnsSharedFile())
        m_ini->Set(kFlagSection, kFlagKey, m_autoShrink ? "1" : "0");
    if (m_path.empty()) {
        error = "there is no folder to keep the crop file in";
        return false;
    }
    if (!Commit(error)) {
        m_autoShrink = previous;
        return false;
    }
    return true;
}

std::string CropFile::PageValue(int page) const {
    return m_ini->GetString(kPageSection, PageKey(page), kNoRectangle, kValueCapacity);
}

std::optional<std::string> CropFile::StoredValue(int page) const { return m_ini->Value(kPageSection, PageKey(page)); }

void CropFile::SetPageValue(int page, std::string_view value) { m_ini->Set(kPageSection, PageKey(page), value); }

void CropFile::RemovePageValue(int page) { m_ini->Remove(kPageSection, PageKey(page)); }

namespace {

std::vector<std::string> ValuesIn(const platform::IniDocument &ini, int page) {
    std::vector<std::string> values;
    for (int region = 1; region <= kMostRegions; ++region) {
        std::optional<std::string> value = ini.Value(kPageSection, PageKey(page, region));
        if (!value)
            break;
        values.push_back(std::move(*value));
    }
    return values;
}

}  // namespace

std::vector<std::string> CropFile::StoredValues(int page) const { return ValuesIn(*m_ini, page); }

bool CropFile::KeepAside(const std::string &document, int pageCount, std::string &error) const {
    const std::string folder =
        std::filesystem::path(m_sharedPath.empty() ? m_path : m_sharedPath).parent_path().string();
    if (folder.empty()) {
        error = "there is no folder to keep the rectangles in";
        return false;
    }
    platform::IniDocument kept = *m_ini;
    kept.Remove(kFlagSection, kFlagKey);
    kept.Set(kDocumentSection, "path", document);
    kept.Set(kDocumentSection, "pages", std::to_string(pageCount));
    return platform::WriteFileAtomically(folder + "/" + kKeptPrefix + std::to_string(::getpid()) + ".ini",
                                         kept.Serialize(), error);
}

std::vector<std::string> CropFile::KeptAsideIn(const std::string &folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code ignored;
        if (name.rfind(kKeptPrefix, 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".ini") == 0 &&
            it->is_regular_file(ignored) && !it->is_symlink(ignored))
            found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

void CropFile::ForgetKeptAside(const std::string &path) { ::unlink(path.c_str()); }

std::optional<CropFile::KeptAside> CropFile::ReadKeptAside(const std::string &path) {
    std::string bytes, error;
    const bool read = platform::ReadWholeFile(path, bytes, error, kLargestFile);
    if (!read || bytes.empty())
        return std::nullopt;
    const platform::IniDocument ini = platform::IniDocument::Parse(bytes);
    KeptAside kept;
    kept.document = ini.Value(kDocumentSection, "path").value_or(std::string());
    kept.pageCount = std::clamp(ini.GetInt(kDocumentSection, "pages", 0), 0, 1 << 24);
    if (kept.document.empty())
        return std::nullopt;
    for (int page = 1; page <= kept.pageCount; ++page) {
        if (std::vector<std::string> values = ValuesIn(ini, page); !values.empty())
            kept.pages.emplace(page, std::move(values));
        if (ini.Value(kLeftOutSection, PageKey(page)))
            kept.leftOut.push_back(page);
        if (const int degrees = RotationValue(ini.Value(kRotateSection, PageKey(page))))
            kept.rotations.emplace(page, degrees);
        if (const double scale = ScaleValue(ini.Value(kScaleSection, PageKey(page))); scale != 1)
            kept.scales.emplace(page, scale);
    }
    return kept;
}

void CropFile::SetPageValues(int page, const std::vector<std::string> &values) {
    for (int region = 1; region <= kMostRegions; ++region) {
        if (size_t(region) <= values.size())
            m_ini->Set(kPageSection, PageKey(page, region), values[size_t(region - 1)]);
        else
            m_ini->Remove(kPageSection, PageKey(page, region));
    }
}

CropRect StoredRect(std::string_view value) {
    const std::array<double, 4> n = ParsePageValue(value);
    return {n[0], -n[1], n[2], -n[3]};
}

std::string StoredRectValue(const CropRect &rect) {
    return FormatPageValue({rect.left, 0.0 - rect.top, rect.right, 0.0 - rect.bottom});
}

void CropFile::SetPageRegions(int page, const std::vector<CropRect> &regions, double turn) {
    std::vector<std::string> values;
    values.reserve(regions.size());
    for (const CropRect &r : regions)
        values.push_back(WithTurn(StoredRectValue(r), turn));
    if (values.empty() && std::round(turn * 100) != 0)
        values.push_back(WithTurn("0,0,0,0", turn));
    SetPageValues(page, values);
}

void CropFile::SetPageLeftOut(int page, bool leftOut) {
    if (leftOut)
        m_ini->Set(kLeftOutSection, PageKey(page), "1");
    else
        m_ini->Remove(kLeftOutSection, PageKey(page));
}

void CropFile::SetPageRotation(int page, int degrees) {
    if (degrees == 90 || degrees == 180 || degrees == 270)
        m_ini->Set(kRotateSection, PageKey(page), std::to_string(degrees));
    else
        m_ini->Remove(kRotateSection, PageKey(page));
}

void CropFile::SetPageScale(int page, double scale) {
    if (scale >= 0.01 && scale < 1) {
        m_ini->Set(kScaleSection, PageKey(page), ScaleText(scale));
    } else {
        m_ini->Remove(kScaleSection, PageKey(page));
    }
}

double CropFile::PageScale(int page) const { return ScaleValue(m_ini->Value(kScaleSection, PageKey(page))); }

int CropFile::PageRotation(int page) const { return RotationValue(m_ini->Value(kRotateSection, PageKey(page))); }

bool CropFile::PageLeftOut(int page) const { return m_ini->Value(kLeftOutSection, PageKey(page)).has_value(); }

CropRect StoredFrom(const CropRect &shown, int pageHeight) { return StoredRect(PageValueFor(shown, pageHeight)); }

std::vector<CropRect> KeptRegions(const std::vector<std::string> &values) {
    std::vector<CropRect> regions;
    for (const std::string &value : values)
        regions.push_back(StoredRect(value));
    return regions;
}

CropRect ShownFrom(const CropRect &stored, int pageHeight) {
    return RectFromPageValue(StoredRectValue(stored), pageHeight);
}

bool CropFile::Commit(std::string &error) {
    if (m_path.empty())
        return true;  // kept in memory only
    if (!OwnsSharedFile())
        return Write(m_path, m_ini->Serialize(), error);
    WriteLock lock(m_lockFd);
    // The flag as another instance may have set it.
    ReadSharedFlag();
    m_ini->Set(kFlagSection, kFlagKey, m_autoShrink ? "1" : "0");
    return Write(m_path, m_ini->Serialize(), error);
}

bool CropFile::Write(const std::string &path, const std::string &bytes, std::string &error) {
    if (!platform::WriteFileAtomically(path, bytes, error))
        return false;
    ++m_writes;
    // The shared file holds the flag this instance has just written.
    if (path == m_sharedPath)
        m_sharedStamp = platform::FileStamp(path);
    return true;
}

bool CropFile::SetAutoShrink(bool on, std::string &error) {
    m_autoShrink = on;
    if (m_sharedPath.empty())
        return true;
    WriteLock lock(m_lockFd);
    if (OwnsSharedFile()) {
        m_ini->Set(kFlagSection, kFlagKey, on ? "1" : "0");
        return Write(m_path, m_ini->Serialize(), error);
    }
    std::string bytes;
    if (!platform::ReadWholeFile(m_sharedPath, bytes, error, kLargestFile)) {
        error = "cannot read " + m_sharedPath + ": " + error;
        return false;
    }
    platform::IniDocument shared = platform::IniDocument::Parse(bytes);
    shared.Set(kFlagSection, kFlagKey, on ? "1" : "0");
    return Write(m_sharedPath, shared.Serialize(), error);
}

}  // namespace crop
