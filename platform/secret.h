#ifndef PLATFORM_SECRET_H
#define PLATFORM_SECRET_H

// A password held in memory only: its bytes are overwritten when the
// object goes, and it is never copied by accident (it moves, or is shared
// through a pointer). From the first password held on, the process leaves
// no core dump and no other process of the user may read its memory: a
// copy the toolkit made on the way (a text field's, a buffer since freed)
// goes with the process, not into a file.

#include <cstring>
#include <string>
#include <string_view>

#include <string.h>
#include <sys/prctl.h>

namespace platform {

class Secret {
public:
    Secret() = default;
    explicit Secret(std::string_view text) : m_text(text) {
        if (!m_text.empty())
            KeepOutOfDumps();
    }
    ~Secret() { Wipe(); }
    Secret(Secret &&other) noexcept : m_text(std::move(other.m_text)) { other.Wipe(); }
    Secret &operator=(Secret &&other) noexcept {
        if (this != &other) {
            Wipe();
            m_text = std::move(other.m_text);
            other.Wipe();
        }
        return *this;
    }
    Secret(const Secret &) = delete;
    Secret &operator=(const Secret &) = delete;

    bool Empty() const { return m_text.empty(); }
    // Null-terminated, for the rendering library; valid while this lives.
    const char *CStr() const { return m_text.c_str(); }
    std::string_view View() const { return m_text; }

    // Overwrites the bytes (the whole capacity) and empties it.
    void Wipe() {
        if (m_text.capacity() > 0)
            ::explicit_bzero(m_text.data(), m_text.capacity());
        m_text.clear();
    }

    static void KeepOutOfDumps() { ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0); }

private:
    std::string m_text;
};

}  // namespace platform

#endif
