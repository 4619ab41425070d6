#ifndef PLATFORM_FILE_NAMES_H
#define PLATFORM_FILE_NAMES_H

#include <QString>

#include <string>
#include <string_view>

namespace platform {

// File names as the system spells them: any bytes but '/' and NUL, not
// always UTF-8. A QString made by PathFromNative keeps every byte of such a
// name (a byte that is not part of UTF-8 becomes a lone low surrogate,
// U+DC80 to U+DCFF), and NativePath gives the very bytes back; for names
// that are UTF-8 the two are QFile's decodeName and encodeName. A name made
// so is shown with the odd bytes as boxes, and is for display only through
// Qt: files are reached through NativePath.
QString PathFromNative(std::string_view bytes);
std::string NativePath(const QString &path);

}  // namespace platform

#endif
