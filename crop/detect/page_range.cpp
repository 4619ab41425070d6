#include "crop/detect/page_range.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

namespace crop {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// A page number, digits only; nothing for anything else or a number past
// what an int holds.
std::optional<long long> Number(std::string_view text) {
    text = Trim(text);
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > 2147483647LL)
        return std::nullopt;
    return value;
}

std::string Pages(int pageCount) {
    return pageCount == 1 ? std::string("only page 1") : "pages 1 to " + std::to_string(pageCount);
}

}  // namespace

bool ParsePageRange(std::string_view text, int pageCount, std::vector<int> &pages, std::string &error) {
    pages.clear();
    std::vector<char> chosen(size_t(std::max(pageCount, 0)) + 1, 0);
    bool any = false;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view raw = Trim(text.substr(start, comma - start));
        start = comma + 1;
        if (raw.empty()) {
            if (comma == text.size() && any)
                break;  // a comma at the end
            error = any || comma < text.size() ? "There is an empty item between two commas."
                                               : "No pages were given: type pages such as 1-3, 8, 10-.";
            return false;
        }
        std::string item = Lower(raw);
        // The odd or even pages of the item.
        int parity = -1;  // -1 both, 1 odd, 0 even
        for (const auto &[word, p] : {std::pair{std::string_view("odd"), 1}, std::pair{std::string_view("even"), 0}})
            if (item.size() >= word.size() && item.compare(item.size() - word.size(), word.size(), word) == 0) {
                parity = p;
                item = std::string(Trim(std::string_view(item).substr(0, item.size() - word.size())));
                break;
            }
        long long first = 1, last = pageCount > 0 ? pageCount : 1;
        const std::string shown(raw);
        if (item.empty() || item == "all") {
            // "odd", "even", "all", "all odd": the whole document.
        } else if (const size_t dash = item.find('-'); dash == std::string::npos) {
            const std::optional<long long> page = Number(item);
            if (!page) {
                error = "\"" + shown + "\" is not a page number or a range such as 5-40.";
                return false;
            }
            first = last = *page;
        } else {
            const std::string_view from = Trim(std::string_view(item).substr(0, dash));
            const std::string_view to = Trim(std::string_view(item).substr(dash + 1));
            const std::optional<long long> a = from.empty() ? std::optional<long long>(1) : Number(from);
            const std::optional<long long> b = to.empty() ? std::optional<long long>(last) : Number(to);
            if (!a || !b || (from.empty() && to.empty())) {
                error = "\"" + shown + "\" is not a page number or a range such as 5-40.";
                return false;
            }
            first = *a;
            last = *b;
            if (!to.empty() && first > last) {
                error = "The range " + shown + " runs backwards: write it as " + std::to_string(last) + "-" +
                        std::to_string(first) + ".";
                return false;
            }
        }
        if (pageCount > 0) {
            for (const long long page : {first, last})
                if (page < 1 || page > pageCount) {
                    error =
                        "Page " + std::to_string(page) + " does not exist: the document has " + Pages(pageCount) + ".";
                    return false;
                }
            bool named = false;
            for (long long page = first; page <= last; ++page)
                if (parity < 0 || page % 2 == parity) {
                    chosen[size_t(page)] = 1;
                    named = true;
                }
            if (!named) {
                error = "\"" + shown + "\" holds no page.";
                return false;
            }
        } else if (first < 1) {
            error = "Page 0 does not exist: pages are counted from 1.";
            return false;
        }
        any = true;
        if (comma == text.size())
            break;
    }
    for (int page = 1; page <= pageCount; ++page)
        if (chosen[size_t(page)])
            pages.push_back(page);
    return true;
}

std::string PageRangeText(const std::vector<int> &pages) {
    std::string text;
    for (size_t i = 0; i < pages.size();) {
        size_t j = i;
        while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 1)
            ++j;
        text += (text.empty() ? "" : ", ") + std::to_string(pages[i]);
        if (j > i)
            text += "-" + std::to_string(pages[j]);
        i = j + 1;
    }
    return text;
}

}  // namespace crop
