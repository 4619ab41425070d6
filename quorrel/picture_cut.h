#ifndef QUORREL_PICTURE_CUT_H
#define QUORREL_PICTURE_CUT_H

// Pictures cut to what the crops show, without losing a pixel of it: a
// scanned page is one picture that reaches into the crop, so taking out
// what lies wholly outside leaves it whole.
//
// Every use of a picture on the pages (drawn by a page's content or a form
// it draws) is followed to where it lands on its page; the pixels any use
// shows within its page's visible box are kept, the rest cut away:
//   - a JPEG is cut on its block grid by libjpeg-turbo's lossless
//     transform, its bytes never decoded to pixels and encoded again;
//   - a picture stored with Flate, LZW, run-length or no compression is
//     decoded, cut and stored with Flate, when that is smaller;
//   - other pictures (JPEG 2000, JBIG2, CCITT), those with a mask of their
//     own, those a form draws, and any that cannot be read are kept whole.
// The cut picture is drawn by a form that each page drawing it gets under
// the same name, in a list of its own pictures (a copy of the one it
// had); the form places the cut part on the unit square exactly where its
// pixels were, so the content streams stay as they are, and whatever else
// shared the page's list (a pattern, an annotation) keeps the whole one.

#include <string>
#include <vector>

class QPDF;

namespace quorrel {

struct PictureCuts {
    int cut = 0;                        // pictures cut
    long long before = 0;               // their stored bytes
    long long after = 0;                // the cut pictures' stored bytes
    std::vector<std::string> warnings;  // a page whose picture is kept whole, and why
};

// Cuts the pictures of every page of `pdf` to its visible box (the crop
// box within the media box).
PictureCuts CutPictures(QPDF &pdf);

// What the removal of hidden content would save on pictures, without
// doing it: the pictures wholly outside the crops (removed) and those
// reaching past them (cut), their stored bytes, and about what is left of
// them (each cut one by the share of its pixels kept).
struct CutEstimate {
    int pictures = 0;
    long long before = 0, after = 0;
};
CutEstimate EstimateCuts(QPDF &pdf);

}  // namespace quorrel

#endif
