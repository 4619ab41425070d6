#ifndef PLATFORM_INI_FILE_H
#define PLATFORM_INI_FILE_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

// An INI text held in memory, read and changed the way private-profile
// files have always been:
//   - section and key names match without regard to ASCII letter case;
//     names and values are taken without the blanks around them;
//   - the first section and the first key of a name are the ones used;
//   - a new key goes at the end of its section (after its last line that
//     is not blank), a new section at the end of the text;
//   - deleting a key removes its line;
//   - every other line (comments, blank lines, lines without "=", lines
//     before the first section) is kept as it was; a second line of a key
//     already seen in its section, which is never read, is dropped.
// Lines end in "\n" when written; "\r\n" is read as well. Changing many
// keys costs one look-up each, so a document of thousands of pages stays
// quick.
class IniDocument {
public:
    static IniDocument Parse(std::string_view text);
    std::string Serialize() const;

    // The value, or nothing when the section or key is missing.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;
    // The value or `fallback`, cut to at most `capacity` - 1 characters,
    // as a reader with a buffer of `capacity` bytes receives it.
    std::string GetString(std::string_view section, std::string_view key, std::string_view fallback,
                          std::size_t capacity) const;
    // The leading whole number of the value ("12abc" gives 12, "abc" 0);
    // `fallback` when the key is missing.
    int GetInt(std::string_view section, std::string_view key, int fallback) const;

    // Creates or replaces the key (a replaced key keeps its spelling).
    void Set(std::string_view section, std::string_view key, std::string_view value);
    // Removes the key's line; nothing when there is no such key.
    void Remove(std::string_view section, std::string_view key);

private:
    struct Line {
        std::string text;  // the line as read, for lines that are not keys
        std::string key;   // empty for lines that are not keys
        std::string value;
        bool removed = false;
    };
    struct Section {
        std::string name;
        std::optional<std::string> header;  // absent for lines before any section
        std::vector<Line> lines;
        std::unordered_map<std::string, std::size_t> keys;  // lower-case name -> line
    };

    const Line *Find(std::string_view section, std::string_view key) const;
    // Drops the removed lines of the section for good.
    static void Compact(Section &section);
    Section &SectionFor(std::string_view name);

    std::vector<Section> m_sections;
    std::unordered_map<std::string, std::size_t> m_sectionIndex;  // lower-case name -> section
};

// Reads a whole file. A missing file reads as empty and is no failure;
// false, with the reason, when it exists but cannot be read, or holds more
// than `limit` bytes.
bool ReadWholeFile(const std::string &path, std::string &bytes, std::string &error,
                   std::size_t limit = std::size_t(-1));

// Writes `bytes` to a new file beside `path` and renames it into place, so
// the file at `path` is at every moment either the old one or the new one
// whole. False, with the reason in plain words, when it cannot be written.
bool WriteFileAtomically(const std::string &path, std::string_view bytes, std::string &error);

}  // namespace platform

#endif
