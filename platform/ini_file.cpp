#include "platform/ini_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

// The process's file creation mask, read without changing it (setting it
// to learn it would race with files other threads create).
mode_t CreationMask() {
    static const mode_t mask = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("Umask:", 0) == 0)
                return mode_t(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
        return mode_t(022);
    }();
    return mask;
}

}  // namespace

IniDocument IniDocument::Parse(std::string_view text) {
    IniDocument doc;
    doc.m_sections.push_back(Section{});  // the lines before any section
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        while (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        const std::string_view line = Trim(raw);
        if (line.size() >= 2 && line.front() == '[' && line.find(']') != std::string_view::npos) {
            Section section;
            section.name = std::string(Trim(line.substr(1, line.find(']') - 1)));
            section.header = std::string(raw);
            doc.m_sectionIndex.emplace(Lower(section.name), doc.m_sections.size());  // the first one wins
            doc.m_sections.push_back(std::move(section));
            continue;
        }
        Section &section = doc.m_sections.back();
        Line entry;
        entry.text = std::string(raw);
        const size_t eq = line.find('=');
        if (section.header && eq != std::string_view::npos && !Trim(line.substr(0, eq)).empty() &&
            line.front() != ';') {
            entry.key = std::string(Trim(line.substr(0, eq)));
            entry.value = std::string(Trim(line.substr(eq + 1)));
            // A later line of a key already seen is never read; it goes, so
            // that what is held and what is written stay the same.
            if (!section.keys.emplace(Lower(entry.key), section.lines.size()).second)
                entry.removed = true;
        }
        section.lines.push_back(std::move(entry));
    }
    return doc;
}

std::string IniDocument::Serialize() const {
    std::string out;
    for (const Section &section : m_sections) {
        if (section.header)
            out.append(*section.header).push_back('\n');
        for (const Line &line : section.lines) {
            if (line.removed)
                continue;
            if (line.key.empty())
                out.append(line.text);
            else
                out.append(line.key).append("=").append(line.value);
            out.push_back('\n');
        }
    }
    return out;
}

const IniDocument::Line *IniDocument::Find(std::string_view section, std::string_view key) const {
    const auto s = m_sectionIndex.find(Lower(Trim(section)));
    if (s == m_sectionIndex.end())
        return nullptr;
    const Section &found = m_sections[s->second];
    const auto k = found.keys.find(Lower(Trim(key)));
    return k == found.keys.end() ? nullptr : &found.lines[k->second];
}

std::optional<std::string> IniDocument::Value(std::string_view section, std::string_view key) const {
    const Line *line = Find(section, key);
    if (!line)
        return std::nullopt;
    return line->value;
}

std::string IniDocument::GetString(std::string_view section, std::string_view key, std::string_view fallback,
                                   std::size_t capacity) const {
    if (capacity == 0)
        return {};
    const Line *line = Find(section, key);
    std::string value(line ? std::string_view(line->value) : fallback);
    if (value.size() > capacity - 1)
        value.resize(capacity - 1);
    return value;
}

int IniDocument::GetInt(std::string_view section, std::string_view key, int fallback) const {
    const Line *line = Find(section, key);
    if (!line)
        return fallback;
    std::string_view v = line->value;
    bool negative = false;
    if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
        negative = v.front() == '-';
        v.remove_prefix(1);
    }
    long long n = 0;
    for (char c : v) {
        if (c < '0' || c > '9')
            break;
        n = std::min<long long>(n * 10 + (c - '0'), INT_MAX);
    }
    return int(negative ? -n : n);
}

IniDocument::Section &IniDocument::SectionFor(std::string_view name) {
    if (m_sections.empty())
        m_sections.push_back(Section{});
    const std::string lower = Lower(Trim(name));
    const auto s = m_sectionIndex.find(lower);
    if (s != m_sectionIndex.end())
        return m_sections[s->second];
    Section section;
    section.name = std::string(Trim(name));
    section.header = "[" + section.name + "]";
    m_sectionIndex.emplace(lower, m_sections.size());
    m_sections.push_back(std::move(section));
    return m_sections.back();
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    Section &s = SectionFor(section);
    const std::string lower = Lower(Trim(key));
    if (const auto k = s.keys.find(lower); k != s.keys.end()) {
        s.lines[k->second].value = std::string(Trim(value));
        return;
    }
    // Lines removed at the end of the section are dropped first, so they
    // are never walked again.
    if (!s.lines.empty() && s.lines.back().removed)
        Compact(s);
    // After the section's last line that is not blank, so a blank line
    // before the next section stays where it is.
    size_t at = s.lines.size();
    while (at > 0 && s.lines[at - 1].key.empty() && Trim(s.lines[at - 1].text).empty())
        --at;
    Line line;
    line.key = std::string(Trim(key));
    line.value = std::string(Trim(value));
    if (at == s.lines.size()) {
        s.keys.emplace(lower, s.lines.size());
        s.lines.push_back(std::move(line));
        return;
    }
    s.lines.insert(s.lines.begin() + std::ptrdiff_t(at), std::move(line));
    for (auto &entry : s.keys)
        if (entry.second >= at)
            ++entry.second;
    s.keys.emplace(lower, at);
}

void IniDocument::Compact(Section &section) {
    std::vector<Line> kept;
    kept.reserve(section.lines.size());
    section.keys.clear();
    for (Line &line : section.lines) {
        if (line.removed)
            continue;
        if (!line.key.empty())
            section.keys.emplace(Lower(line.key), kept.size());
        kept.push_back(std::move(line));
    }
    section.lines = std::move(kept);
}

void IniDocument::Remove(std::string_view section, std::string_view key) {
    const auto s = m_sectionIndex.find(Lower(Trim(section)));
    if (s == m_sectionIndex.end())
        return;
    Section &found = m_sections[s->second];
    const auto k = found.keys.find(Lower(Trim(key)));
    if (k == found.keys.end())
        return;
    found.lines[k->second].removed = true;
    found.keys.erase(k);
}

bool ReadWholeFile(const std::string &path, std::string &bytes, std::string &error, std::size_t limit) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        error = std::strerror(errno);
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        if (bytes.size() + size_t(n) > limit) {
            error = "it is larger than " + std::to_string(limit >> 20) + " MB";
            ::close(fd);
            bytes.clear();
            return false;
        }
        bytes.append(buffer, size_t(n));
    }
    ::close(fd);
    return true;
}

bool WriteFileAtomically(const std::string &path, std::string_view bytes, std::string &error) {
    const std::filesystem::path target(path);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot write in the folder " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, 0666 & ~CreationMask());
    int failure = 0;
    for (const char *p = bytes.data(), *end = p + bytes.size(); p < end && !failure;) {
        const ssize_t n = ::write(fd, p, size_t(end - p));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            failure = n < 0 ? errno : EIO;
        else
            p += n;
    }
    // A file system that cannot sync says EINVAL; that is no failure.
    if (!failure && ::fsync(fd) != 0 && errno != EINVAL)
        failure = errno;
    if (::close(fd) != 0 && !failure)
        failure = errno;
    if (!failure && ::rename(temp.c_str(), path.c_str()) != 0)
        failure = errno;
    if (failure) {
        ::unlink(temp.c_str());
        error = "cannot write " + path + ": " + std::strerror(failure);
        return false;
    }
    return true;
}

}  // namespace platform
