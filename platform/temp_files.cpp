#include "platform/temp_files.h"

#include <algorithm>

#include <QDir>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <cstdlib>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace platform {

TempFileRegistry &TempFileRegistry::Instance() {
    static TempFileRegistry registry;
    return registry;
}

void TempFileRegistry::Add(std::string path) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_paths.push_back(std::move(path));
}

bool TempFileRegistry::AddNew(std::string path) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (std::find(m_paths.begin(), m_paths.end(), path) != m_paths.end())
        return false;
    m_paths.push_back(std::move(path));
    return true;
}

void TempFileRegistry::Forget(const std::string &path) {
    std::lock_guard<std::mutex> guard(m_mutex);
    // The latest entry of that name goes: names are mostly forgotten soon
    // after they were made.
    for (auto it = m_paths.rbegin(); it != m_paths.rend(); ++it)
        if (*it == path) {
            m_paths.erase(std::next(it).base());
            return;
        }
}

std::vector<std::string> TempFileRegistry::Paths() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_paths;
}

void TempFileRegistry::DeleteAll() {
    std::vector<std::string> paths;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        paths.swap(m_paths);
    }
    for (const std::string &p : paths)
        ::unlink(p.c_str());  // a file never created or already gone is fine
}

namespace {

std::string TempFolder() {
    std::string folder = QDir::tempPath().toStdString();
    return folder.empty() ? std::string("/tmp") : folder;
}

}  // namespace

std::size_t MakeTempFileName(std::size_t capacity, std::string &path, std::string_view suffix) {
    if (capacity == 0)
        return 0;
    const std::string pattern = TempFolder() + "/pdf" + std::to_string(::getpid()) + "-XXXXXX.tmp";
    // The file that reserves the name is gone once the name is handed out,
    // so another thread may be given the same name again while the first
    // is still in use: such a name is drawn again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        const int fd = ::mkstemps(buffer.data(), 4);  // keeps ".tmp"
        if (fd < 0)
            return 0;
        ::close(fd);
        std::string name(buffer.data());
        const bool fresh = TempFileRegistry::Instance().AddNew(name + std::string(suffix));
        ::unlink(name.c_str());
        if (fresh) {
            path = std::move(name.append(suffix));
            return path.size();
        }
    }
    return 0;
}

}  // namespace platform

namespace platform {

int RemoveStaleTempFiles(const std::string &folder) {
    int removed = 0;
    std::error_code failed;
    const auto now = std::filesystem::file_time_type::clock::now();
    const std::filesystem::path where = folder.empty() ? TempFolder() : folder;
    for (std::filesystem::directory_iterator it(where, failed), end; !failed && it != end; it.increment(failed)) {
        // "pdf<pid>-XXXXXX.tmp", then any suffix.
        const std::string name = it->path().filename().string();
        long long pid = 0;
        char unique[8] = {};
        int used = 0;
        if (std::sscanf(name.c_str(), "pdf%lld-%6[A-Za-z0-9].tmp%n", &pid, unique, &used) != 2 || used == 0 ||
            std::strlen(unique) != 6 || pid <= 0 || pid > INT32_MAX || name.compare(0, 3, "pdf") != 0)
            continue;
        std::error_code ignored;
        if (!it->is_regular_file(ignored))
            continue;
        const auto written = std::filesystem::last_write_time(it->path(), ignored);
        if (ignored || now - written < std::chrono::hours(24))
            continue;
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH && std::filesystem::remove(it->path(), ignored))
            ++removed;
    }
    return removed;
}

}  // namespace platform
