#include "platform/exe_folder.h"

#include <filesystem>
#include <system_error>

namespace platform {

std::string ExecutableFolder() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty())
        return {};
    return exe.parent_path().string();
}

}  // namespace platform
