#ifndef QUORREL_LEFT_OUT_H
#define QUORREL_LEFT_OUT_H

// What leads to pages left out of a copy is led elsewhere: links and
// outline entries to such a page lead to the next page kept (or go, when
// none follows), named destinations too (to the page before, when none
// follows), and form fields whose every widget was on pages left out go
// with them.

#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <map>
#include <vector>

class QPDF;

namespace quorrel {

// Each page left out, by its object, to the page that now takes its place
// (null when none follows); `kept` the pages that stay, `leftOut` those
// that go. Returns the links and outline entries removed.
int LeadAwayFrom(QPDF &pdf, const std::map<QPDFObjGen, QPDFObjectHandle> &nextKept,
                 const std::vector<QPDFObjectHandle> &kept, const std::vector<QPDFObjectHandle> &leftOut);

// Explicit destinations that jump to a place on a page drawn `scale`
// times its size (each page by its object in `scaleOf`) name the place as
// the page now has it: the links of `pages`, the open action, the
// outline and the named destinations.
void ScaleDestinations(QPDF &pdf, const std::vector<QPDFObjectHandle> &pages,
                       const std::map<QPDFObjGen, double> &scaleOf);

}  // namespace quorrel

#endif
