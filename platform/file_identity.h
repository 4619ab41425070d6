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

// What one look at a path tells: whether something is there and what, and
// a stamp that tells one version of a file from another without reading
// it (device, inode, size, modification and change times; empty when
// nothing is there). Every write that renames a new file into place, or
// changes the file, gives another stamp.
struct FileIdentity {
    bool exists = false;
    bool regular = false;
    bool folder = false;
    bool device = false;  // a device or a pipe: written into, never replaced
    std::string stamp;
};
FileIdentity IdentityOf(const std::string &path);
inline std::string FileStamp(const std::string &path) { return IdentityOf(path).stamp; }

// Whether a file can be opened to be read; `error` says why not when the
// system does.
enum class InputProblem { None, Missing, Folder, Unreadable };
InputProblem CheckReadable(const std::string &path, std::string &error);

}  // namespace platform

#endif
