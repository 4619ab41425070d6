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

}  // namespace quorrel

#endif
