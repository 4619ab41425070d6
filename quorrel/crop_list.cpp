#include "quorrel/crop_list.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace quorrel {
namespace {

// A cursor over one line.
class Cursor {
public:
    explicit Cursor(const std::string &s) : m_s(s) {}

    void Spaces() {
        while (m_i < m_s.size() && (m_s[m_i] == ' ' || m_s[m_i] == '\t'))
            ++m_i;
    }
    bool Literal(const char *text) {
        Spaces();
        size_t i = m_i;
        for (const char *p = text; *p; ++p, ++i)
            if (i >= m_s.size() || m_s[i] != *p)
                return false;
        m_i = i;
        return true;
    }
    bool Integer(int &value) {
        Spaces();
        size_t start = m_i;
        while (m_i < m_s.size() && std::isdigit(static_cast<unsigned char>(m_s[m_i])))
            ++m_i;
        if (m_i == start || m_i - start > 9)
            return false;
        value = std::atoi(m_s.substr(start, m_i - start).c_str());
        return true;
    }
    // A plain decimal number: optional sign, digits, optional fraction.
    bool Number(double &value) {
        Spaces();
        size_t start = m_i;
        if (m_i < m_s.size() && (m_s[m_i] == '-' || m_s[m_i] == '+'))
            ++m_i;
        size_t digits = 0;
        while (m_i < m_s.size() && std::isdigit(static_cast<unsigned char>(m_s[m_i])))
            ++m_i, ++digits;
        if (m_i < m_s.size() && m_s[m_i] == '.') {
            ++m_i;
            while (m_i < m_s.size() && std::isdigit(static_cast<unsigned char>(m_s[m_i])))
                ++m_i, ++digits;
        }
        if (digits == 0 || digits > 40)
            return false;
        value = std::strtod(m_s.substr(start, m_i - start).c_str(), nullptr);
        return std::isfinite(value);
    }
    bool AtEnd() {
        Spaces();
        return m_i == m_s.size();
    }

private:
    const std::string &m_s;
    size_t m_i = 0;
};

}  // namespace

bool ParseCropList(std::istream &in, CropList &list, std::string &error) {
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        Cursor c(line);
        if (c.AtEnd())
            continue;
        Cursor p(line);
        int page = 0;
        CropRect r;
        if (!p.Literal("Page") || !p.Integer(page) || !p.Literal(",") || !p.Literal("[") || !p.Number(r.left) ||
            !p.Literal(",") || !p.Number(r.top) || !p.Literal(",") || !p.Number(r.right) || !p.Literal(",") ||
            !p.Number(r.bottom) || !p.Literal("]") || !p.AtEnd() || page < 1) {
            error = "line " + std::to_string(number) + " is not \"Page N, [left,top,right,bottom]\": " +
                    (line.size() > 80 ? line.substr(0, 80) + "..." : line);
            return false;
        }
        list[page] = r;
    }
    if (in.bad()) {
        error = "the crop list cannot be read";
        return false;
    }
    return true;
}

}  // namespace quorrel
