#ifndef CROP_MODEL_REGIONS_CROP_FILE_H
#define CROP_MODEL_REGIONS_CROP_FILE_H

#include "crop/detect/crop_rect.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class IniDocument;
}

namespace crop {

// The crop file, "croprect.ini": the working store of the open document's
// crop rectangles, one key "page<n>" of section "PAGE" per page, and of the
// auto-shrink flag, section "AutoShrink" key "flag". A page's value holds
// four numbers "left,top,right,bottom" with two decimals, measured from the
// page's bottom-left corner with y up, the y values from a line H points
// below the page's top (H the page height in whole points).
//
// The file is kept in memory as well, and every change is one complete
// write: a new file renamed into place. Reads come from memory, which
// always holds what the file holds.
//
// One running instance owns the shared file; it holds a lock on
// "croprect.ini.lock" beside it. Another instance keeps its rectangles in
// a file of its own beside the shared one, removed when it goes, so the
// instances never empty or overwrite each other's rectangles. The
// auto-shrink flag lives in the shared file for every instance, read from
// it each time it is asked for.
class CropFile {
public:
    static constexpr const char *kFileName = "croprect.ini";
    // A page value as read, cut to what a 50-byte buffer holds.
    static constexpr std::size_t kValueCapacity = 50;

    // The crop file of folder `folder`; an empty folder keeps the
    // rectangles in memory only.
    explicit CropFile(const std::string &folder);
    ~CropFile();
    CropFile(const CropFile &) = delete;
    CropFile &operator=(const CropFile &) = delete;

    // The file this instance's rectangles live in, and the shared file
    // that holds the flag (the same file for the instance that owns it).
    const std::string &Path() const { return m_path; }
    const std::string &SharedPath() const { return m_sharedPath; }
    bool OwnsSharedFile() const { return m_path == m_sharedPath; }

    // Empties the file of every rectangle; the flag stays. False, with the
    // reason, when the file cannot be written (the rectangles are emptied
    // in memory all the same).
    bool Reset(std::string &error);

    // The value of page `page` (from 1) as a reader gets it: the stored
    // text cut to 49 characters, or "0.00,0.00,0.00,0.00" when missing.
    std::string PageValue(int page) const;
    // The stored text, or nothing when the page has no key.
    std::optional<std::string> StoredValue(int page) const;

    // Every region of the page: "page<n>" first, then "page<n>.2",
    // "page<n>.3" and so on, as long as they follow each other.
    std::vector<std::string> StoredValues(int page) const;

    // Changes in memory only; Commit writes them all at once.
    void SetPageValue(int page, std::string_view value);
    void RemovePageValue(int page);
    // The page's regions become `values` (none: the page has no key).
    void SetPageValues(int page, const std::vector<std::string> &values);
    // The same for regions as stored (StoredRect), each value carrying the
    // page's turn; a page turned without a region keeps one value with no
    // rectangle.
    void SetPageRegions(int page, const std::vector<CropRect> &regions, double turn = 0);
    // Pages left out of the copy: a key "page<n>=1" of section "LEFTOUT",
    // which readers of the rectangles never look at.
    void SetPageLeftOut(int page, bool leftOut);
    bool PageLeftOut(int page) const;
    // Pages turned in the copy: "page<n>=90" (180, 270) of section
    // "ROTATE"; none for a page as the file shows it.
    void SetPageRotation(int page, int degrees);
    int PageRotation(int page) const;
    // The part of its size a page is drawn at in the copy, in section
    // "SCALE"; none for a page drawn whole.
    void SetPageScale(int page, double scale);
    double PageScale(int page) const;
    bool Commit(std::string &error);

    // The auto-shrink flag as the shared file holds it now (the last value
    // known when the file cannot be read).
    bool AutoShrink();
    // Writes the flag into the shared file.
    bool SetAutoShrink(bool on, std::string &error);

    // Rectangles not yet saved in a cropped copy, kept beside the crop
    // file when the program is ended from outside (a session that ends),
    // for the next start to offer back.
    struct KeptAside {
        std::string document;  // the file they were drawn on, as the system spells it
        int pageCount = 0;
        std::map<int, std::vector<std::string>> pages;  // each page's regions as stored
        std::vector<int> leftOut;                       // pages left out of the copy
        std::map<int, int> rotations;                   // pages turned, degrees clockwise
        std::map<int, double> scales;                   // pages drawn smaller
    };
    // Keeps this instance's rectangles, drawn on `document` of `pageCount`
    // pages, aside; false, with the reason, when they cannot be written.
    bool KeepAside(const std::string &document, int pageCount, std::string &error) const;
    // The rectangles kept aside in `folder` by instances that were ended.
    static std::vector<std::string> KeptAsideIn(const std::string &folder);
    // Reads the rectangles kept at `path`; nothing when it cannot be read.
    static std::optional<KeptAside> ReadKeptAside(const std::string &path);
    // Removes the rectangles kept at `path`: given back, or given up.
    static void ForgetKeptAside(const std::string &path);

    // Why the crop file found at start was not read (too large to be one
    // the program wrote); empty when it was.
    const std::string &Problem() const { return m_problem; }
    // No crop file the program writes is larger: a line per region of a
    // long document.
    static constexpr std::size_t kLargestFile = 32u << 20;

    // How many times this instance has written a file, and read the shared
    // one for the flag.
    int Writes() const { return m_writes; }
    int Reads() const { return m_reads; }

private:
    bool Write(const std::string &path, const std::string &bytes, std::string &error);
    // Reads the flag from the shared file into m_autoShrink.
    void ReadSharedFlag();
    // Holds the write lock of the shared folder while it lives.
    class WriteLock;

    std::string m_sharedPath;
    std::string m_path;
    int m_lockFd = -1;
    std::unique_ptr<platform::IniDocument> m_ini;
    bool m_autoShrink = false;
    int m_writes = 0;
    int m_reads = 0;
    std::string m_sharedStamp;  // the shared file as it was last read or written
    std::string m_problem;
};

// The four numbers of a page value in file order, each read the way atof
// reads a number: its leading number, anything after it ignored, 0 when
// there is none. Fields past the fourth are ignored; missing ones are 0.
std::array<double, 4> ParsePageValue(std::string_view value);
// The turn a page value carries after its four numbers: degrees the page
// is straightened by, counterclockwise; 0 when it has none.
double PageTurn(std::string_view value);
// `value`'s four numbers with `turn` after them (to the hundredth); the
// four alone for a turn that rounds to 0.
std::string WithTurn(std::string_view value, double turn);
// "%.6f" of a page's scale, whatever the locale.
std::string ScaleText(double scale);
// "%.2f,%.2f,%.2f,%.2f", whatever the locale.
std::string FormatPageValue(const std::array<double, 4> &numbers);
// The page value of `rect` on a page H points high, (left, H - top, right,
// H - bottom), each number passed through single precision.
std::string PageValueFor(const CropRect &rect, int pageHeight);
// The rectangle a page value stands for on a page H points high; empty
// when all four numbers truncate toward zero to 0.
CropRect RectFromPageValue(std::string_view value, int pageHeight);
// A page value as a rectangle measured the way the file measures: x from
// the page's left edge, y down from the line H points below its top, so
// that it needs no page height; and the value of such a rectangle. The
// two undo each other for every value the program writes.
CropRect StoredRect(std::string_view value);
std::string StoredRectValue(const CropRect &rect);
// The one conversion between the frames: a rectangle as shown on a page H
// points high (from its top-left corner, y down) as the file stores it,
// rounded as the file rounds; and back, empty for a stored rectangle that
// stands for none.
CropRect StoredFrom(const CropRect &shown, int pageHeight);
// A page's values kept aside, as stored rectangles.
std::vector<CropRect> KeptRegions(const std::vector<std::string> &values);
CropRect ShownFrom(const CropRect &stored, int pageHeight);
// atof of the leading number of `text`; 0 for none, and for a number
// that is not finite.
double AtoF(std::string_view text);

}  // namespace crop

#endif
