#ifndef QUORREL_PICTURE_USES_H
#define QUORREL_PICTURE_USES_H

// Where the pages draw their pictures: each page's content followed
// through its drawing state (q, Q, cm) and the forms it draws, to what of
// each picture its visible box (the crop box within the media box) shows.

#include <qpdf/QPDFObjectHandle.hh>

#include <map>
#include <string>
#include <utility>
#include <vector>

class QPDF;

namespace quorrel {

// A box on the page or on a picture's unit square, y up.
struct Rect {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool Empty() const { return !(x1 > x0 && y1 > y0); }
};

// Every use of one picture: what of its unit square the uses show, and
// the pages that draw it, with the name they draw it by.
struct Picture {
    QPDFObjectHandle image;
    int page = 0;  // the first page that draws it
    bool whole = false;
    Rect shown{1, 1, 0, 0};  // on the unit square, the union over the uses
    std::vector<std::pair<QPDFObjectHandle, std::string>> uses;
};
using Pictures = std::map<QPDFObjGen, Picture>;

// Every use of every picture the pages draw. A picture a form draws, or
// one drawn by content that cannot be followed, is marked whole: the form
// may also be drawn where the walk does not go (a pattern, an annotation).
Pictures FindPictures(QPDF &pdf);

}  // namespace quorrel

#endif
