#include "crop/detect/page_shape.h"

#include "crop/detect/margins.h"
#include "platform/ini_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace crop {

namespace {

struct NamedPaper {
    const char *name;
    double widthMm, heightMm;
};

// ISO 216 and 269 and the North American sizes, portrait.
constexpr NamedPaper kPapers[] = {
    {"a3", 297, 420},         {"a4", 210, 297},        {"a5", 148, 210},          {"a6", 105, 148},
    {"b4", 250, 353},         {"b5", 176, 250},        {"b6", 125, 176},          {"c5", 162, 229},
    {"letter", 215.9, 279.4}, {"legal", 215.9, 355.6}, {"tabloid", 279.4, 431.8}, {"executive", 184.15, 266.7},
};

std::string Lower(std::string_view s) {
    std::string out;
    for (char c : s)
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// A plain decimal number above 0.
bool Positive(std::string_view s, double &value) {
    if (s.empty() || s.find_first_not_of("0123456789.") != std::string_view::npos)
        return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size() && std::isfinite(value) && value > 0;
}

}  // namespace

bool ParsePaperSize(std::string_view text, PaperSize &paper, std::string &error) {
    std::string t = Lower(text);
    for (const NamedPaper &p : kPapers)
        if (t == p.name) {
            paper = {p.widthMm * 72 / 25.4, p.heightMm * 72 / 25.4};
            return true;
        }
    Unit unit = Unit::Pt;
    size_t letters = t.size();
    while (letters > 0 && std::isalpha(static_cast<unsigned char>(t[letters - 1])))
        --letters;
    const size_t x = t.find('x');
    bool ok = letters > 0 && x != std::string::npos && x < letters &&
              (letters == t.size() || ParseUnit(std::string_view(t).substr(letters), unit));
    double w = 0, h = 0;
    ok = ok && Positive(std::string_view(t).substr(0, x), w) &&
         Positive(std::string_view(t).substr(x + 1, letters - x - 1), h);
    if (!ok) {
        error = "\"" + std::string(text) +
                "\" is no paper size: give a name (A3, A4, A5, A6, B4, B5, B6, C5, Letter, Legal, Tabloid, "
                "Executive) or a width and height such as 210x297mm or 6x9in.";
        return false;
    }
    paper = {w * PointsPer(unit), h * PointsPer(unit)};
    if (paper.width > kLargestPage || paper.height > kLargestPage) {
        error = "\"" + std::string(text) + "\" is larger than 14400 pt, the most a PDF page may be.";
        return false;
    }
    return true;
}

bool ParseRatio(std::string_view text, double &width, double &height, std::string &error) {
    const std::string t = Lower(text);
    const size_t colon = t.find(':');
    if (colon == std::string::npos || !Positive(std::string_view(t).substr(0, colon), width) ||
        !Positive(std::string_view(t).substr(colon + 1), height) || width / height > 1000 || height / width > 1000) {
        error = "\"" + std::string(text) + "\" is no ratio: give width:height, two numbers above 0, such as 3:4.";
        return false;
    }
    return true;
}

CropRect GrownToRatio(const CropRect &rect, double width, double height, const RoomWeights &weights) {
    CropRect r = rect.Normalized();
    const double w = r.right - r.left, h = r.bottom - r.top;
    if (!(w > 0 && h > 0))
        return r;
    // The share of the room that goes to the first side of two.
    auto first = [](double a, double b) { return a + b > 0 ? a / (a + b) : 0.5; };
    if (w / h < width / height) {
        const double more = h * width / height - w, share = first(weights.left, weights.right);
        r.left -= more * share;
        r.right += more * (1 - share);
    } else {
        const double more = w * height / width - h, share = first(weights.top, weights.bottom);
        r.top -= more * share;
        r.bottom += more * (1 - share);
    }
    return r;
}

bool ParseRoomWeights(std::string_view text, RoomWeights &weights, std::string &error) {
    Margins four;
    if (!ParseMargins(text, four, error) || four.left < 0 || four.top < 0 || four.right < 0 || four.bottom < 0) {
        error = "Give four weights of 0 or more, for the left, top, right and bottom, such as 1,1,1,3.";
        return false;
    }
    weights = {four.left, four.top, four.right, four.bottom};
    return true;
}

bool ParseAnchor(std::string_view text, Anchor &anchor) {
    if (text == "centre" || text == "center")
        anchor = Anchor::Centre;
    else if (text == "top")
        anchor = Anchor::Top;
    else if (text == "spine")
        anchor = Anchor::Spine;
    else
        return false;
    return true;
}

CropRect OnPaper(const CropRect &rect, const PaperSize &paper, bool &cut, Anchor anchor, int page, bool spineRight) {
    const CropRect r = rect.Normalized();
    cut = r.right - r.left > paper.width + 0.005 || r.bottom - r.top > paper.height + 0.005;
    const double cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
    CropRect on{cx - paper.width / 2, cy - paper.height / 2, cx + paper.width / 2, cy + paper.height / 2};
    if (anchor == Anchor::Top) {
        on.top = r.top;
        on.bottom = r.top + paper.height;
    } else if (anchor == Anchor::Spine && (page % 2 == 1) != spineRight) {
        on.left = r.left;
        on.right = r.left + paper.width;
    } else if (anchor == Anchor::Spine) {
        on.right = r.right;
        on.left = r.right - paper.width;
    }
    return on;
}

CropRect FitOnPaper(const CropRect &rect, const PaperSize &paper, double &scale, Anchor anchor, int page,
                    bool spineRight) {
    const CropRect r = rect.Normalized();
    scale = std::min({1.0, paper.width / (r.right - r.left), paper.height / (r.bottom - r.top)});
    if (!(scale > 0))  // an empty crop
        scale = 1;
    bool cut = false;
    return OnPaper(r, PaperSize{paper.width / scale, paper.height / scale}, cut, anchor, page, spineRight);
}

const std::vector<ReaderScreen> &BuiltInScreens() {
    // The screen's shape, and what its frame and menus cover: e-readers a
    // status line at the top, tablets and phones their bars at both ends.
    static const std::vector<ReaderScreen> screens = {
        {"6-inch e-reader", 3, 4, 0, 0.03, 0, 0},      {"7-inch e-reader", 3, 4, 0, 0.03, 0, 0},
        {"7-inch tablet", 10, 16, 0, 0.04, 0, 0.05},   {"10-inch e-reader", 3, 4, 0, 0.025, 0, 0},
        {"10-inch tablet", 10, 16, 0, 0.035, 0, 0.04}, {"Phone", 9, 19.5, 0, 0.05, 0, 0.04},
        {"Whole screen, no bars", 3, 4, 0, 0, 0, 0},
    };
    return screens;
}

bool ParseReaderScreens(std::string_view text, std::vector<ReaderScreen> &screens, std::string &error) {
    std::vector<ReaderScreen> read;
    int number = 0;
    for (size_t at = 0; at <= text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        auto trim = [](std::string_view s) {
            while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
                s.remove_prefix(1);
            while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
                s.remove_suffix(1);
            return s;
        };
        line = trim(line);
        if (line.empty() || line.front() == '#')
            continue;
        const size_t equals = line.find('=');
        ReaderScreen screen;
        screen.name = std::string(trim(line.substr(0, equals == std::string_view::npos ? 0 : equals)));
        std::string_view rest = equals == std::string_view::npos ? std::string_view() : trim(line.substr(equals + 1));
        const size_t comma = rest.find(',');
        std::string why;
        bool ok = !screen.name.empty() && ParseRatio(trim(rest.substr(0, comma)), screen.width, screen.height, why);
        if (ok && comma != std::string_view::npos) {
            Margins covered;
            // Percents: a unit would be read as one.
            for (char c : rest.substr(comma + 1))
                ok = ok && !std::isalpha(static_cast<unsigned char>(c));
            ok = ok && ParseMargins(rest.substr(comma + 1), covered, why) && covered.left >= 0 && covered.top >= 0 &&
                 covered.right >= 0 && covered.bottom >= 0 && covered.left + covered.right < 90 &&
                 covered.top + covered.bottom < 90;
            screen.left = covered.left / 100, screen.top = covered.top / 100;
            screen.right = covered.right / 100, screen.bottom = covered.bottom / 100;
        }
        if (!ok) {
            error = "line " + std::to_string(number) +
                    " is not \"NAME = W:H\" or \"NAME = W:H, L,T,R,B\" (the percent of the screen each side's "
                    "frame and menus cover, less than 90 across and down): " +
                    std::string(line.substr(0, 80));
            return false;
        }
        read.push_back(std::move(screen));
    }
    screens = std::move(read);
    return true;
}

std::string ReaderScreensPath() {
    const char *config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config == '/')
        return std::string(config) + "/orvane/screens";
    const char *home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config/orvane/screens";
}

std::vector<ReaderScreen> ReaderScreens(std::string &error) {
    std::vector<ReaderScreen> screens = BuiltInScreens(), own;
    std::string text, why;
    const std::string path = ReaderScreensPath();
    if (!platform::ReadWholeFile(path, text, why, 1 << 20))
        error = path + ": " + why;
    else if (!ParseReaderScreens(text, own, why))
        error = path + ": " + why;
    for (ReaderScreen &screen : own) {
        if (FindScreen(screens, screen.name)) {  // the first of a name is the one used
            error = path + ": \"" + screen.name + "\" is the name of a reader listed before it; give it another";
            continue;
        }
        screens.push_back(std::move(screen));
    }
    return screens;
}

const ReaderScreen *FindScreen(const std::vector<ReaderScreen> &screens, std::string_view name) {
    const std::string wanted = Lower(name);
    for (const ReaderScreen &screen : screens)
        if (Lower(screen.name) == wanted)
            return &screen;
    return nullptr;
}

CropRect GrownToScreen(const CropRect &rect, const ReaderScreen &screen, const RoomWeights &weights) {
    // What the screen leaves uncovered holds the crop at its own aspect.
    const double across = 1 - screen.left - screen.right, down = 1 - screen.top - screen.bottom;
    CropRect r = GrownToRatio(rect, screen.width * across, screen.height * down, weights);
    const double w = (r.right - r.left) / across, h = (r.bottom - r.top) / down;
    r.left -= w * screen.left;
    r.right += w * screen.right;
    r.top -= h * screen.top;
    r.bottom += h * screen.bottom;
    return r;
}

}  // namespace crop
