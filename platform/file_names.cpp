#include "platform/file_names.h"

namespace platform {
namespace {

constexpr char16_t kEscape = 0xDC00;  // plus the byte, for bytes 0x80..0xFF

bool Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence at `s` (its code point in
// `code`), or 0 when there is none.
size_t Sequence(std::string_view s, char32_t &code) {
    const auto c = static_cast<unsigned char>(s[0]);
    if (c < 0x80) {
        code = c;
        return 1;
    }
    size_t n = 0;
    char32_t least = 0;
    if ((c & 0xE0) == 0xC0) {
        n = 2, code = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3, code = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4, code = c & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < n)
        return 0;
    for (size_t i = 1; i < n; ++i) {
        if (!Continuation(static_cast<unsigned char>(s[i])))
            return 0;
        code = (code << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode are not UTF-8.
    if (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return n;
}

void AppendUtf8(std::string &out, char32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

}  // namespace

QString PathFromNative(std::string_view bytes) {
    QString path;
    path.reserve(qsizetype(bytes.size()));
    for (size_t at = 0; at < bytes.size();) {
        char32_t code = 0;
        const size_t n = Sequence(bytes.substr(at), code);
        if (n == 0) {
            path += QChar(char16_t(kEscape + static_cast<unsigned char>(bytes[at])));
            ++at;
            continue;
        }
        if (code < 0x10000) {
            path += QChar(char16_t(code));
        } else {
            path += QChar(char16_t(0xD800 + ((code - 0x10000) >> 10)));
            path += QChar(char16_t(0xDC00 + ((code - 0x10000) & 0x3FF)));
        }
        at += n;
    }
    return path;
}

std::string NativePath(const QString &path) {
    std::string bytes;
    bytes.reserve(size_t(path.size()));
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t unit = path[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < path.size() && QChar::isLowSurrogate(path[i + 1].unicode())) {
            AppendUtf8(bytes, QChar::surrogateToUcs4(unit, path[i + 1].unicode()));
            ++i;
        } else if (unit >= kEscape + 0x80 && unit <= kEscape + 0xFF) {
            bytes += char(unit - kEscape);  // a byte that was not UTF-8
        } else if (QChar::isSurrogate(unit)) {
            AppendUtf8(bytes, 0xFFFD);  // no name holds one
        } else {
            AppendUtf8(bytes, unit);
        }
    }
    return bytes;
}

}  // namespace platform
