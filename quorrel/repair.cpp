#include "quorrel/repair.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace quorrel {
namespace {

using LoadLibraryFn = int (*)(const char *);
using WriteRepairedFn = int (*)(const char *, int);

// The rendering library beside this program, loaded once and kept for the
// rest of the run. Only that one: a library in the working folder (beside
// the user's files) is never loaded.
void *RenderingLibrary() {
    static void *const module = [] {
        std::error_code failed;
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failed);
        return failed ? nullptr : ::dlopen((self.parent_path() / "libravel.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    }();
    return module;
}

}  // namespace

std::string TemporaryFolder() {
    const char *folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

int UnnamedFile() {
    int fd = ::open(TemporaryFolder().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        fd = ::memfd_create("quorrel-copy", MFD_CLOEXEC);
    return fd;
}

int WithoutHiddenCopy(int fd, const std::string &password, Removed &removed, std::string &error) {
    using WithoutHiddenFn = int (*)(const char *, const char *, int, int32_t *);
    using LastErrorFn = int (*)(char *, int);
    void *module = RenderingLibrary();
    const auto load = module ? reinterpret_cast<LoadLibraryFn>(::dlsym(module, "LS_LoadLibrary")) : nullptr;
    const auto write = module ? reinterpret_cast<WithoutHiddenFn>(::dlsym(module, "LS_WriteWithoutHidden")) : nullptr;
    const auto lastError = module ? reinterpret_cast<LastErrorFn>(::dlsym(module, "LS_LastWriteError")) : nullptr;
    if (!load || !write || !load("libravel.so")) {
        error = "the rendering library libravel.so, which removes hidden content, is not beside the crop tool";
        return -1;
    }
    const int out = UnnamedFile();
    if (out < 0) {
        error = std::string("no temporary file can be made for the copy: ") + std::strerror(errno);
        return -1;
    }
    int32_t counts[5] = {0, 0, 0, 0, 0};
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (!write(path.c_str(), password.empty() ? nullptr : password.c_str(), out, counts) ||
        ::lseek(out, 0, SEEK_SET) != 0) {
        ::close(out);
        char why[256] = "";
        const int system = lastError ? lastError(why, int(sizeof why)) : 0;
        if (system == ENOSPC || system == EDQUOT)
            error = kNoSpace;
        else
            error = "the rendering library could not write the copy without hidden content" +
                    (*why ? " (" + std::string(why) + ")" : std::string());
        return -1;
    }
    removed = {counts[0], counts[1], counts[2], counts[3], counts[4]};
    return out;
}

int RepairedCopy(const std::string &path, std::string &error) {
    void *module = RenderingLibrary();
    if (!module) {
        error = "the rendering library libravel.so, which repairs such files, is not beside the crop tool";
        return -1;
    }
    const auto load = reinterpret_cast<LoadLibraryFn>(::dlsym(module, "LS_LoadLibrary"));
    const auto write = reinterpret_cast<WriteRepairedFn>(::dlsym(module, "LS_WriteRepaired"));
    if (!load || !write || !load("libravel.so")) {
        error = "the rendering library libravel.so beside the crop tool cannot repair files";
        return -1;
    }
    const int fd = UnnamedFile();
    if (fd < 0) {
        error = std::string("no temporary file can be made for a repaired copy: ") + std::strerror(errno);
        return -1;
    }
    if (!write(path.c_str(), fd) || ::lseek(fd, 0, SEEK_SET) != 0) {
        ::close(fd);
        error = "the rendering library cannot repair it either";
        return -1;
    }
    return fd;
}

}  // namespace quorrel
