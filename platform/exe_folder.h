#ifndef PLATFORM_EXE_FOLDER_H
#define PLATFORM_EXE_FOLDER_H

#include <string>

namespace platform {

// Folder of the running executable, with symbolic links resolved, so a
// program started through a link still finds the files that lie beside it.
// Empty when the system cannot tell.
std::string ExecutableFolder();

}  // namespace platform

#endif
