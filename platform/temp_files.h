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
    // Add, unless the path is on the list already: false then.
    bool AddNew(std::string path);
    // Takes a path off the list once its file has been deleted, so that
    // the exit never deletes a later file of the same name.
    void Forget(const std::string &path);
    std::vector<std::string> Paths() const;
    // Deletes every registered file, in order, ignoring failures, and
    // empties the list.
    void DeleteAll();

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_paths;
};

// Makes a fresh temporary path "<temp folder>/pdf<pid>-XXXXXX.tmp<suffix>"
// (the process that named it in the name), registers it for deletion at
// exit and stores it in `path`. Returns the path's length, or 0 (and does
// nothing) when `capacity` is 0. The capacity is only tested against 0:
// the path may be of any length.
std::size_t MakeTempFileName(std::size_t capacity, std::string &path, std::string_view suffix);

// Deletes from `folder` (the temporary folder when empty) the temporary
// files that runs of the program killed before their exit left behind:
// names MakeTempFileName makes, a day old or more, of a process that has
// gone. Returns how many were deleted.
int RemoveStaleTempFiles(const std::string &folder = std::string());

}  // namespace platform

#endif
