#ifndef QUORREL_STRAIGHTEN_H
#define QUORREL_STRAIGHTEN_H

// Straightening a page without touching its pictures: its content is drawn
// through a rotation, so every stream of the page, pictures and the text
// layer of a scan among them, stays byte for byte what it was.

#include <qpdf/QPDFObjectHandle.hh>

#include <array>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace quorrel {

// The PDF matrix (a b c d e f) that turns user space by `degrees`
// counterclockwise about (cx, cy).
std::array<double, 6> TurnAbout(double degrees, double cx, double cy);

// Draws `page`'s content after `prefix` (which begins with "q") and
// restores the state after it, in streams of their own made by
// `makeStream`; a stray Q in the content cannot undo what the prefix set.
void WrapPageContents(QPDFObjectHandle page, const std::string &prefix,
                      const std::function<QPDFObjectHandle(const std::string &data)> &makeStream);

// Turns `page`'s content by `degrees` counterclockwise about (cx, cy): the
// content is wrapped between a stream "q <matrix> cm" and one "Q", made
// by `makeStream`, and the rectangles (and quadrilaterals) of its
// annotations are turned with it, so a link still covers what it covered
// (as the box round the turned rectangle). Every object given a new value
// goes into `changed`; an annotation already in `turned` (shared with a
// page turned before) is not turned again.
void TurnPage(QPDFObjectHandle page, double degrees, double cx, double cy,
              const std::function<QPDFObjectHandle(const std::string &data)> &makeStream,
              std::vector<QPDFObjectHandle> &changed, std::set<QPDFObjGen> &turned);

// Draws `page` `scale` times its size (about the origin of its user
// space): its content wrapped as TurnPage wraps it, its boxes (those it
// takes from its parents made its own) and its annotations scaled with it.
void ScalePage(QPDFObjectHandle page, double scale,
               const std::function<QPDFObjectHandle(const std::string &data)> &makeStream,
               std::vector<QPDFObjectHandle> &changed, std::set<QPDFObjGen> &scaled);

}  // namespace quorrel

#endif
