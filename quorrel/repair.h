#ifndef QUORREL_REPAIR_H
#define QUORREL_REPAIR_H

#include <string>

namespace quorrel {

// A whole copy of the PDF at `path` as the rendering library beside this
// program reads it, repaired where it is damaged, in a temporary file that
// has no name (nothing is left behind whatever ends the process). The open
// file, positioned at its start, for the caller to own; -1, with `error`
// saying why, when the library is not there or cannot read the file
// either. The file at `path` is only read.
int RepairedCopy(const std::string &path, std::string &error);

// What a copy without hidden content lost.
struct Removed {
    int glyphs = 0, images = 0, annotations = 0, fields = 0, drawings = 0;
};

// A whole copy of the PDF in the open file `fd` (read from its start)
// that keeps nothing wholly outside each page's crop box, written by the
// rendering library into an unnamed temporary file; opened with
// `password` (may be empty). The open file, positioned at its start; -1,
// with `error` saying why, when it cannot be made.
int WithoutHiddenCopy(int fd, const std::string &password, Removed &removed, std::string &error);

// An unnamed file in the temporary folder, or one in memory; -1 when
// neither can be made.
int UnnamedFile();
// The temporary folder: $TMPDIR, or /tmp.
std::string TemporaryFolder();
// WithoutHiddenCopy's reason when the temporary folder had no room.
inline constexpr const char *kNoSpace = "no space left in the temporary folder";

}  // namespace quorrel

#endif
