#ifndef QUORREL_ORIGINAL_H
#define QUORREL_ORIGINAL_H

// A copy written as an update holds its original whole: the original's
// bytes, then the update. The update's trailer records where the original
// ends and the SHA-256 of its bytes, and a SHA-256 of the update itself
// (taken with its own digits as zeros), so the original can be given back
// byte for byte, and a copy changed since cannot pass for one:
//
//   /OrvaneOriginal << /Length 8592412 /SHA256 <…64 hex…> /Update <…64 hex…> >>
//
// A copy written whole records only why, "/OrvaneOriginal << /Whole
// /HiddenRemoved >>", so that it can say why it holds no original.

#include <atomic>
#include <functional>
#include <optional>
#include <string>

namespace quorrel {

// Why a copy was written whole, as recorded.
enum class Whole { HiddenRemoved, Rewritten, Repaired, Straightened, PagesLeftOut, MarginsAdded, NoUpdate };

// The SHA-256 of the first `length` bytes of the open file `fd`, in
// lowercase hex; nothing, with `why` set, when they cannot all be read or
// `stop` is set meanwhile.
std::optional<std::string> Sha256OfFile(int fd, long long length, std::string &why,
                                        const std::atomic<bool> *stop = nullptr);

// The trailer entry of an update whose original is `length` bytes; its
// digests are zeros until SealUpdate.
std::string UpdateRecord(long long length);
// Fills in the digests of `update`, which holds one UpdateRecord: the
// original's, `sha256`, then the update's own.
void SealUpdate(std::string &update, const std::string &sha256);
// The trailer entry of a copy written whole, as a name and its value.
const char *RecordKey();
const char *WholeName(Whole why);

// Writes the original `copy` holds to `out` (beside it first, then
// renamed into place; a read-only `out` is replaced only with
// `overwrite`); false, with `why` in plain words and nothing written,
// when `copy` is not such a copy or was changed since it was written.
// `progress` hears the share done, 0 to 100.
bool RestoreOriginal(const std::string &copy, const std::string &out, bool overwrite, std::string &why,
                     const std::function<void(int)> &progress = {});

}  // namespace quorrel

#endif
