#ifndef RENDER_RAVEL_DOCUMENT_H
#define RENDER_RAVEL_DOCUMENT_H

#include "ravel/ravel.h"

#include <string>

namespace render {

// One open document of the rendering library, closed when the object goes.
// A handle is used by one thread at a time; every thread that renders opens
// its own.
class RavelDocument {
public:
    RavelDocument() = default;
    // Empty (false) when the file cannot be opened or the library is not
    // loaded.
    static RavelDocument Open(const std::string &path, int flag = 1);
    // Open for a file that may be locked: `password` (null or empty for
    // none) is tried, and `status` (may be null) gets an LS_OPEN_ value.
    static RavelDocument Open(const std::string &path, int flag, const char *password, int32_t *status);
    ~RavelDocument() { Close(); }
    RavelDocument(RavelDocument &&other) noexcept : m_handle(other.m_handle) { other.m_handle = 0; }
    RavelDocument &operator=(RavelDocument &&other) noexcept;
    RavelDocument(const RavelDocument &) = delete;
    RavelDocument &operator=(const RavelDocument &) = delete;

    explicit operator bool() const { return m_handle != 0; }
    LS_Document Handle() const { return m_handle; }
    void Close();

private:
    explicit RavelDocument(LS_Document handle) : m_handle(handle) {}
    LS_Document m_handle = 0;
};

}  // namespace render

#endif
