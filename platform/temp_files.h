#ifndef PLATFORM_TEMP_FILES_H
#define PLATFORM_TEMP_FILES_H

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Names of the temporary files the program hands out. Entries are only
// added; at exit every named file is deleted, whether or not it was ever
// written. Appends from several threads are serialised.
class TempFileRegistry {
public:
    static TempFileRegistry &Instance();

    void Add(std::string path);
    // Takes a path off the list once its file has been deleted, so that
    // the exit never deletes a later file of the same name.
    void Forget(const std::string &path);
    std::vector<std::string> Paths() const;
    // Deletes every registered file, in order, ignoring failures, and
    // empties the list; the private folder goes once it is empty.
    void DeleteAll();

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_paths;
};

// Makes a fresh temporary file "pdf<pid>-XXXXXX.tmp<suffix>" (the process
// that named it in the name), registers it for deletion at exit and stores
// its path in `path`. Returns the path's length, or 0 when `capacity` is 0
// (and does nothing) or no file can be made. The capacity is only tested
// against 0: the path may be of any length.
//
// The file is made empty, readable and writable by this user alone, under
// the very name handed out (a name another user made first is never
// taken), in a folder of this process's own inside the temporary folder
// that no other user may enter or write in ("orvane-<pid>-XXXXXX", made
// once, removed at exit).
std::size_t MakeTempFileName(std::size_t capacity, std::string &path, std::string_view suffix);

// Opens a file MakeTempFileName made for writing, emptied; -1 when it
// cannot be, and when its name has become a link.
int OpenTempFile(const std::string &path);

// This process's own temporary folder; empty until a name has been made.
std::string PrivateTempFolder();

// Deletes from `folder` (the temporary folder when empty) the temporary
// files that runs of the program killed before their exit left behind:
// names MakeTempFileName makes, and this user's private folders with them
// in, a day old or more, of a process that has gone. Returns how many
// files were deleted.
int RemoveStaleTempFiles(const std::string &folder = std::string());

}  // namespace platform

#endif
