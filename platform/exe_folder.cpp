#include "platform/exe_folder.h"

#include <QDir>
#include <QStandardPaths>

#include <filesystem>
#include <mutex>
#include <system_error>
#include <unistd.h>

namespace platform {
namespace {

std::mutex g_mutex;
std::string g_workingFolder;

}  // namespace

std::string ExecutableFolder() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty())
        return {};
    return exe.parent_path().string();
}

std::string WorkingFolder() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_workingFolder.empty())
            return g_workingFolder;
    }
    const std::string beside = ExecutableFolder();
    if (!beside.empty() && ::access(beside.c_str(), W_OK | X_OK) == 0)
        return beside;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (data.isEmpty() || !QDir().mkpath(data))
        return {};
    return data.toStdString();
}

void SetWorkingFolder(const std::string &folder) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_workingFolder = folder;
}

}  // namespace platform
