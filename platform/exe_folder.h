#ifndef PLATFORM_EXE_FOLDER_H
#define PLATFORM_EXE_FOLDER_H

#include <string>

namespace platform {

// Folder of the running executable, with symbolic links resolved, so a
// program started through a link still finds the files that lie beside it.
// Empty when the system cannot tell.
std::string ExecutableFolder();

// The folder of the program's working files (the crop file): the
// executable's folder when the program may write there, otherwise (an
// installed program) the user's data folder for the program, made when
// missing. Found the same way at every call. Empty when neither can be had.
std::string WorkingFolder();
// Puts the working files in `folder` instead, for this process; empty goes
// back to the usual place. Tests give each test a folder of its own.
void SetWorkingFolder(const std::string &folder);

}  // namespace platform

#endif
