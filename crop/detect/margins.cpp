#include "crop/detect/margins.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

namespace crop {

double PointsPer(Unit unit) {
    switch (unit) {
    case Unit::Mm:
        return 72.0 / 25.4;
    case Unit::In:
        return 72.0;
    case Unit::Pt:
        break;
    }
    return 1.0;
}

const char *UnitName(Unit unit) { return unit == Unit::Mm ? "mm" : unit == Unit::In ? "in" : "pt"; }

bool ParseUnit(std::string_view text, Unit &unit) {
    std::string lower;
    for (char c : text)
        lower += char(std::tolower(static_cast<unsigned char>(c)));
    for (Unit u : {Unit::Pt, Unit::Mm, Unit::In})
        if (lower == UnitName(u)) {
            unit = u;
            return true;
        }
    return false;
}

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

// A plain decimal: digits with at most one point, a minus before them at
// most.
bool PlainNumber(std::string_view s, double &value) {
    const bool negative = !s.empty() && s.front() == '-';
    if (negative)
        s.remove_prefix(1);
    if (s.empty() || s.find_first_not_of("0123456789.") != std::string_view::npos ||
        std::count(s.begin(), s.end(), '.') > 1 || s == ".")
        return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (negative)
        value = -value;
    return ec == std::errc() && end == s.data() + s.size() && std::isfinite(value);
}

}  // namespace

bool ParseMargins(std::string_view text, Margins &margins, std::string &error) {
    std::string_view rest = Trim(text);
    // The unit, if any, ends the text.
    Unit unit = Unit::Pt;
    size_t letters = rest.size();
    while (letters > 0 && std::isalpha(static_cast<unsigned char>(rest[letters - 1])))
        --letters;
    if (letters < rest.size()) {
        if (!ParseUnit(rest.substr(letters), unit)) {
            error = "\"" + std::string(rest.substr(letters)) + "\" is no unit: use pt, mm or in.";
            return false;
        }
        rest = Trim(rest.substr(0, letters));
    }
    std::vector<double> numbers;
    while (true) {
        const size_t comma = rest.find(',');
        const std::string_view item = Trim(rest.substr(0, comma));
        double value = 0;
        if (!PlainNumber(item, value)) {
            error = item.empty() ? "A margin is missing: give four, left, top, right and bottom, such as 20,20,20,20mm."
                                 : "\"" + std::string(item) +
                                       "\" is not a margin: give a number (one below 0 adds that much margin).";
            return false;
        }
        numbers.push_back(value * PointsPer(unit));
        if (comma == std::string_view::npos)
            break;
        rest = rest.substr(comma + 1);
    }
    if (numbers.size() != 4) {
        error = "Give four margins, left, top, right and bottom, such as 20,20,20,20mm; " +
                std::to_string(numbers.size()) + (numbers.size() == 1 ? " was" : " were") + " given.";
        return false;
    }
    margins = {numbers[0], numbers[1], numbers[2], numbers[3]};
    return true;
}

namespace {

// A number with its unit, if one follows it: "20", "20mm", "20 mm".
bool NumberWithUnit(std::string_view text, double &points, bool &hasUnit, std::string &error) {
    text = Trim(text);
    size_t letters = text.size();
    while (letters > 0 && std::isalpha(static_cast<unsigned char>(text[letters - 1])))
        --letters;
    Unit unit = Unit::Pt;
    hasUnit = letters < text.size();
    if (hasUnit && !ParseUnit(text.substr(letters), unit)) {
        error = "\"" + std::string(text.substr(letters)) + "\" is no unit: use pt, mm or in.";
        return false;
    }
    const std::string_view number = Trim(text.substr(0, letters));
    if (!PlainNumber(number, points)) {
        error = "\"" + std::string(text) + "\" is not a margin: give a number of points, or one with mm or in.";
        return false;
    }
    points *= PointsPer(unit);
    return true;
}

}  // namespace

bool ParseSideMargins(std::string_view text, SideMargins &margins, std::string &error) {
    const std::string_view whole = Trim(text);
    SideMargins m;
    const bool named = !whole.empty() && std::isalpha(static_cast<unsigned char>(whole.front()));
    if (!named) {
        Margins four;
        double one = 0;
        bool hasUnit = false;
        if (whole.find(',') == std::string_view::npos) {
            if (!NumberWithUnit(whole, one, hasUnit, error))
                return false;
            four = {one, one, one, one};
        } else if (!ParseMargins(whole, four, error)) {
            return false;
        }
        m = {four.left, four.top, four.right, four.bottom, false};
    } else {
        // "side number[unit]" apart by commas; a unit at the very end is
        // every unitless number's.
        Unit last = Unit::Pt;
        size_t letters = whole.size();
        while (letters > 0 && std::isalpha(static_cast<unsigned char>(whole[letters - 1])))
            --letters;
        if (letters < whole.size()) {
            const std::string_view before = Trim(whole.substr(0, letters));
            if (!before.empty() && std::isdigit(static_cast<unsigned char>(before.back())))
                ParseUnit(whole.substr(letters), last);
        }
        bool seen[6] = {};  // left, top, right, bottom, inner, outer
        const char *const names[6] = {"left", "top", "right", "bottom", "inner", "outer"};
        std::string_view rest = whole;
        while (true) {
            const size_t comma = rest.find(',');
            const std::string_view item = Trim(rest.substr(0, comma));
            const size_t space = item.find_first_of(" \t");
            const std::string_view name = item.substr(0, space);
            int side = -1;
            for (int i = 0; i < 6; ++i)
                if (std::equal(name.begin(), name.end(), names[i], names[i] + std::strlen(names[i]),
                               [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; }))
                    side = i;
            if (side < 0 || space == std::string_view::npos) {
                error = "\"" + std::string(item) +
                        "\" names no side: give left, top, right, bottom, inner or outer and a number, such as "
                        "inner 20mm.";
                return false;
            }
            double points = 0;
            bool hasUnit = false;
            if (!NumberWithUnit(item.substr(space), points, hasUnit, error))
                return false;
            if (!hasUnit)
                points *= PointsPer(last);
            if (seen[side]) {
                error = "The " + std::string(names[side]) + " margin is given twice.";
                return false;
            }
            seen[side] = true;
            double SideMargins::*const fields[6] = {&SideMargins::left,   &SideMargins::top,  &SideMargins::right,
                                                    &SideMargins::bottom, &SideMargins::left, &SideMargins::right};
            m.*fields[side] = points;
            if (comma == std::string_view::npos)
                break;
            rest = rest.substr(comma + 1);
        }
        if ((seen[0] || seen[2]) && (seen[4] || seen[5])) {
            error = "Give left and right, or inner and outer, not both.";
            return false;
        }
        m.innerOuter = seen[4] || seen[5];
    }
    for (double v : {m.left, m.top, m.right, m.bottom})
        if (v < 0 || v > kLargestPage) {
            error = "A margin round the content is from 0 to 14400 points.";
            return false;
        }
    margins = m;
    return true;
}

std::optional<CropRect> InsideMargins(const Margins &m, double width, double height) {
    const CropRect r{m.left, m.top, width - m.right, height - m.bottom};
    if (!(r.right > r.left) || !(r.bottom > r.top))
        return std::nullopt;
    return r;
}

const char *PageBoxName(PageBox box) {
    switch (box) {
    case PageBox::Trim:
        return "trim";
    case PageBox::Bleed:
        return "bleed";
    case PageBox::Art:
        break;
    }
    return "art";
}

bool ParsePageBox(std::string_view text, PageBox &box) {
    for (PageBox b : {PageBox::Trim, PageBox::Bleed, PageBox::Art})
        if (text == PageBoxName(b)) {
            box = b;
            return true;
        }
    return false;
}

Margins MarginsOf(const CropRect &rect, double width, double height) {
    const CropRect r = rect.Normalized();
    return {r.left, r.top, width - r.right, height - r.bottom};
}

}  // namespace crop
