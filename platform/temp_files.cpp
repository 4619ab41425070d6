#include "platform/temp_files.h"

#include <QDir>

#include <cstdio>
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

std::size_t MakeTempFileName(std::size_t capacity, std::string &path, std::string_view suffix) {
    if (capacity == 0)
        return 0;
    std::string folder = QDir::tempPath().toStdString();
    if (folder.empty())
        folder = "/tmp";
    std::string pattern = folder + "/pdfXXXXXX.tmp";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = ::mkstemps(buffer.data(), 4);  // keeps ".tmp"
    if (fd < 0)
        return 0;
    ::close(fd);
    std::string name(buffer.data());
    ::unlink(name.c_str());
    name.append(suffix);
    TempFileRegistry::Instance().Add(name);
    path = std::move(name);
    return path.size();
}

}  // namespace platform
