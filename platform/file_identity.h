#ifndef PLATFORM_FILE_IDENTITY_H
#define PLATFORM_FILE_IDENTITY_H

#include <string>

namespace platform {

// Whether two paths name the same file. The same device and inode; or,
// since one file may be seen under other numbers (through a bind mount of
// a network or FUSE file system), the same size, modification time and
// first and last 64 KiB of content. A copy kept with its time and bytes is
// taken for the file too; two names of one file on file systems that show
// it with other sizes or times are not told apart.
bool SameFile(const std::string &a, const std::string &b);

// Whether the file at `path` is one its owner meant to keep as it is: no
// one may write it, or this user may not.
bool IsReadOnly(const std::string &path);

}  // namespace platform

#endif
