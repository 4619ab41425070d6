#ifndef CROP_VIEW_EDGE_NOTES_H
#define CROP_VIEW_EDGE_NOTES_H

#include "crop/detect/marks.h"
#include "crop/model/document.h"
#include "crop/view/page_geometry.h"

#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QString>

#include <optional>

class QPainter;
class QWidget;

namespace crop {

// A box of the page (points) in window pixels at `geometry`.
QRect InWindow(const CropRect &box, const PageGeometry &geometry);

// The page view's notes on the edges of the shown page's crop: what set
// each edge outlined (named when hovered), the user's word on it from a
// right-click, and areas left out of every page, drawn with Shift held.
class EdgeNotes {
public:
    explicit EdgeNotes(COrvaneDoc &document) : m_document(document) {}

    void Paint(QPainter &painter, const PageGeometry &geometry) const;
    // What sets an edge under window point `window`.
    std::optional<EdgeSetter> SetterAt(QPoint window, const PageGeometry &geometry) const;
    // Where the pointer finds it, in window pixels.
    QRect Around(const EdgeSetter &setter, const PageGeometry &geometry) const;
    // The words for it: "page number: sets the top edge", "rule: sets the
    // left and right edges".
    QString Describe(const EdgeSetter &setter) const;
    // The right-click menu of the setter under `window`, over `parent`:
    // false when none is there.
    bool Menu(QWidget *parent, QPoint window, const PageGeometry &geometry);
    // Marks like `setter` left out (of every page, or of the shown one).
    void Ignore(const EdgeSetter &setter, bool allPages);

    // An area to leave out, dragged out from `window`.
    bool Drawing() const { return m_drawing; }
    QRegion Begin(QPoint window);
    QRegion Move(QPoint window);
    // Let go: the area is left out of every page and they are measured again.
    QRegion End(QPoint window, const PageGeometry &geometry);
    QRegion Cancel();

private:
    QRect Band() const { return QRect(m_from, m_to).normalized(); }
    void Tell(bool done, const QString &reason);

    COrvaneDoc &m_document;
    bool m_drawing = false;
    QPoint m_from, m_to;
};

}  // namespace crop

#endif
