#include "quorrel/crop_list.h"

#include <charconv>
#include <cmath>
#include <sstream>
#include <string_view>

namespace quorrel {
namespace {

// A cursor over one line.
class Cursor {
public:
    explicit Cursor(std::string_view s) : m_s(s) {}

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
        while (m_i < m_s.size() && Digit(m_s[m_i]))
            ++m_i;
        if (m_i == start || m_i - start > 9)
            return false;
        std::from_chars(m_s.data() + start, m_s.data() + m_i, value);
        return true;
    }
    // A plain decimal number: optional sign, digits, optional fraction.
    bool Number(double &value) {
        Spaces();
        // from_chars takes no '+', so the sign is read here.
        const bool negative = m_i < m_s.size() && m_s[m_i] == '-';
        if (m_i < m_s.size() && (m_s[m_i] == '-' || m_s[m_i] == '+'))
            ++m_i;
        const size_t start = m_i;
        size_t digits = 0;
        while (m_i < m_s.size() && Digit(m_s[m_i]))
            ++m_i, ++digits;
        if (m_i < m_s.size() && m_s[m_i] == '.') {
            ++m_i;
            while (m_i < m_s.size() && Digit(m_s[m_i]))
                ++m_i, ++digits;
        }
        if (digits == 0 || digits > 40)
            return false;
        const auto [end, ec] = std::from_chars(m_s.data() + start, m_s.data() + m_i, value, std::chars_format::fixed);
        if (ec != std::errc() || end != m_s.data() + m_i)
            return false;
        if (negative)
            value = -value;
        return std::isfinite(value);
    }
    bool AtEnd() {
        Spaces();
        return m_i == m_s.size();
    }

private:
    static bool Digit(char c) { return c >= '0' && c <= '9'; }

    std::string_view m_s;
    size_t m_i = 0;
};

}  // namespace

bool ReadAtMost(std::istream &in, size_t limit, std::string &text, std::string &error) {
    text.clear();
    char buffer[1 << 16];
    while (in) {
        in.read(buffer, sizeof buffer);
        const size_t n = size_t(in.gcount());
        if (text.size() + n > limit) {
            error = "the crop list is larger than " + std::to_string(limit >> 20) +
                    " MB, which no list of a document needs";
            return false;
        }
        text.append(buffer, n);
    }
    if (in.bad()) {
        error = "the crop list cannot be read";
        return false;
    }
    return true;
}

namespace {

// The first line of `page`, which a rotation or a scale (line `number`)
// sets: the page as it is when it has none yet; null, with `error`, for a
// page left out.
CropRect *FirstLine(CropList &list, int page, int number, std::string &error) {
    std::vector<CropRect> &lines = list.try_emplace(list.end(), page)->second;
    if (lines.empty())
        lines.emplace_back();
    if (lines.front().leftOut) {
        error = "line " + std::to_string(number) + " is for page " + std::to_string(page) + ", which is left out";
        return nullptr;
    }
    return &lines.front();
}

}  // namespace

bool ParseCropList(std::istream &in, CropList &list, std::string &error) {
    // The whole list at once: a line per page of a long document.
    std::string text;
    if (!ReadAtMost(in, kLargestList, text, error))
        return false;
    int number = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        Cursor c(line);
        if (c.AtEnd())
            continue;
        Cursor p(line);
        int page = 0;
        CropRect r;
        Cursor turn(line);
        int quarter = 0;
        if (turn.Literal("Page") && turn.Integer(page) && turn.Literal(",") && turn.Literal("rotate") &&
            turn.Integer(quarter) && turn.AtEnd() && page >= 1) {
            if (quarter != 90 && quarter != 180 && quarter != 270) {
                error = "line " + std::to_string(number) + " rotates page " + std::to_string(page) + " by " +
                        std::to_string(quarter) + " degrees; a page turns by 90, 180 or 270";
                return false;
            }
            CropRect *first = FirstLine(list, page, number, error);
            if (!first)
                return false;
            first->rotate = quarter;
            continue;
        }
        Cursor scaled(line);
        double scale = 0;
        if (scaled.Literal("Page") && scaled.Integer(page) && scaled.Literal(",") && scaled.Literal("scale") &&
            scaled.Number(scale) && scaled.AtEnd() && page >= 1) {
            if (!(scale >= kLeastScale && scale <= 1)) {
                error = "line " + std::to_string(number) + " scales page " + std::to_string(page) +
                        " by a number outside 0.01 to 1";
                return false;
            }
            CropRect *first = FirstLine(list, page, number, error);
            if (!first)
                return false;
            first->scale = scale;
            continue;
        }
        Cursor out(line);
        if (out.Literal("Page") && out.Integer(page) && out.Literal(",") && out.Literal("left") && out.Literal("out") &&
            out.AtEnd() && page >= 1) {
            std::vector<CropRect> &lines = list.try_emplace(list.end(), page)->second;
            if (!lines.empty()) {
                error = "line " + std::to_string(number) + " leaves out page " + std::to_string(page) +
                        ", which has other lines";
                return false;
            }
            r.leftOut = true;
            lines.push_back(r);
            continue;
        }
        if (!p.Literal("Page") || !p.Integer(page) || !p.Literal(",") || !p.Literal("[") || !p.Number(r.left) ||
            !p.Literal(",") || !p.Number(r.top) || !p.Literal(",") || !p.Number(r.right) || !p.Literal(",") ||
            !p.Number(r.bottom) || (p.Literal(",") && !p.Number(r.turn)) || !p.Literal("]") || !p.AtEnd() || page < 1) {
            error = "line " + std::to_string(number) + " is not \"Page N, [left,top,right,bottom]\": " +
                    (line.size() > 80 ? std::string(line.substr(0, 80)) + "..." : std::string(line));
            return false;
        }
        if (std::fabs(r.turn) > kMostTurn) {
            error = "line " + std::to_string(number) + " turns page " + std::to_string(page) + " by more than " +
                    std::to_string(int(kMostTurn)) + " degrees";
            return false;
        }
        std::vector<CropRect> &lines = list.try_emplace(list.end(), page)->second;  // the lines come in page order
        if (!lines.empty() && lines.front().leftOut) {
            error = "line " + std::to_string(number) + " is for page " + std::to_string(page) + ", which is left out";
            return false;
        }
        // A rectangle after the page's rotation or scale takes the place it kept.
        if (lines.size() == 1 && (lines.front().rotate != 0 || lines.front().scale != 1) && lines.front().Empty() &&
            lines.front().turn == 0) {
            r.rotate = lines.front().rotate;
            r.scale = lines.front().scale;
            lines.clear();
        }
        if (lines.size() >= kMostLinesPerPage) {
            error = "page " + std::to_string(page) + " has more than " + std::to_string(kMostLinesPerPage) +
                    " lines; a page is split into " + std::to_string(kMostLinesPerPage) + " pages at most";
            return false;
        }
        lines.push_back(r);
    }
    return true;
}

}  // namespace quorrel
