#ifndef QUORREL_CROPPER_H
#define QUORREL_CROPPER_H

#include "quorrel/crop_list.h"

#include <qpdf/QPDFObjectHandle.hh>

#include <optional>
#include <string>
#include <vector>

class QPDF;

namespace quorrel {

// A rectangle in PDF user space (points, y upwards), normalised.
struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool Empty() const { return x1 <= x0 || y1 <= y0; }
};

// A box as a PDF rectangle, and a PDF rectangle as a box (lower-left
// corner first); nothing for what is not a rectangle of finite numbers.
QPDFObjectHandle BoxArray(const Box &box);
std::optional<Box> RectangleOf(QPDFObjectHandle value);

// How a viewer shows a page: its media box, the visible box (crop box
// clipped to the media box) and the rotation (0, 90, 180 or 270).
struct PageGeometry {
    Box media;
    Box visible;
    int rotate = 0;

    // The shown page's height in points, as the program measures it.
    double ShownHeight() const;
};

// The rotation a viewer applies for a /Rotate value: any multiple of 90,
// negative ones too, snapped to 0, 90, 180 or 270.
int NormaliseRotation(long long rotate);

// The crop box that makes a viewer show exactly `rect` of the page as it
// was shown: the rotation undone, the visible box's origin added, clipped
// to the visible box, so that nothing the page hid comes to light.
// Nothing when the rectangle is empty or lies outside the visible box.
std::optional<Box> CropBoxFor(const PageGeometry &page, const CropRect &rect);
// The same rectangle in user space as it stands, not clipped.
Box WantedBoxFor(const PageGeometry &page, const CropRect &rect);
// No page grows past this size, in points either way.
constexpr double kLargestPage = 14400;

struct CropReport {
    int pages = 0;    // in the document
    int cropped = 0;  // pages of the input given a crop box, copies not counted
    int copies = 0;   // pages added after the pages they copy
    int turned = 0;   // pages straightened
    int leftOut = 0;  // pages not in the copy
    int rotated = 0;  // pages given a new rotation
    // Pages drawn smaller, and how much: by ApplyCropList, or with pages
    // that grow, by the writer once they have grown.
    std::vector<std::pair<QPDFObjectHandle, double>> scaled;
    int leadsRemoved = 0;  // links and outline entries that led only to pages left out
    // Pages whose rectangle reaches past what they showed, with margins
    // added: each page, its visible box before, and the box it grows to.
    struct Grown {
        QPDFObjectHandle page;
        Box visible, grown;
    };
    std::vector<Grown> grown;
    // The objects given new values or made: page objects, page-tree nodes,
    // and the copies with their annotations.
    std::vector<QPDFObjectHandle> changed;
    std::vector<std::string> warnings;
    // Why the changes cannot be an update of the file; empty when they can.
    std::string whyWhole;
};

// Sets the crop box (and with `setMediaBox` the media box too) of every
// page the list names, first straightening those whose first line turns
// them (about the centre of the page's visible box). Pages without a line, or with an empty rectangle,
// keep their boxes; lines for pages beyond the document are warned about.
//
// A page with several lines is split: its first line crops the page
// itself, and each further line a copy of it placed after it, in the order
// of the lines. A copy shares the page's content streams, resources and
// annotations (a form field's widgets stay with the page itself). Whatever leads to the page (an outline entry, a link)
// leads to the first copy.
//
// A page whose line leaves it out is taken out of the page tree, and what
// led to it is led to the page kept after it (quorrel/left_out.h); the
// copy is then written whole. A list that leaves out every page leaves out
// none, with a warning.
//
// With `addMargins` a page whose one rectangle reaches past what it showed
// grows: its crop box is for now what the rectangle holds of it, and the
// page is listed in `grown` for the writer to give it its new boxes once
// what lies in the new margins is removed (the copy is written whole).
// With `setTrimBox` each page cropped gets its crop box as its trim box.
// A page with one line and a scale is drawn smaller once cropped (when
// some page grows, by the writer once they have grown); its content
// streams are then the copy's own, and it is written whole.
CropReport ApplyCropList(QPDF &pdf, const CropList &list, bool setMediaBox, bool addMargins = false,
                         bool setTrimBox = false);

}  // namespace quorrel

#endif
