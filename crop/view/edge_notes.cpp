#include "crop/view/edge_notes.h"

#include "platform/dialogs.h"

#include <QMenu>
#include <QPainter>
#include <QStringList>
#include <QWidget>

namespace crop {
namespace {

// How far around a setter (window pixels) the pointer still finds it.
constexpr int kReach = 3;
// The least area worth leaving out, in window pixels each way.
constexpr int kLeastArea = 4;

}  // namespace

QRect InWindow(const CropRect &r, const PageGeometry &g) {
    const CropRect n = r.Normalized();
    return g.LogicalToWindow(
        QRect(g.PageToLogicalPixel(QPointF(n.left, n.top)), g.PageToLogicalPixel(QPointF(n.right, n.bottom))));
}

void EdgeNotes::Paint(QPainter &painter, const PageGeometry &g) const {
    // The overlay holds many pages: only what is left out of all of them.
    const bool overlay = m_document.Overlay().Shown();
    const int page = overlay ? 0 : m_document.CurrentPage();
    const std::vector<EdgeSetter> setters = overlay ? std::vector<EdgeSetter>() : m_document.Whole().SettersOn(page);
    const std::vector<CropRect> ignored = m_document.Whole().IgnoredOn(page);
    if (setters.empty() && ignored.empty() && !m_drawing)
        return;
    painter.save();
    // Areas left out: hatched grey.
    for (const CropRect &area : ignored) {
        const QRect r = InWindow(area, g);
        painter.fillRect(r, QBrush(QColor(90, 90, 90, 140), Qt::BDiagPattern));
        painter.setPen(QPen(QColor(90, 90, 90), 1, Qt::DashLine));
        painter.drawRect(r);
    }
    if (m_drawing) {
        painter.fillRect(Band(), QBrush(QColor(90, 90, 90, 140), Qt::BDiagPattern));
        painter.setPen(QPen(QColor(60, 60, 60), 1, Qt::DashLine));
        painter.drawRect(Band());
    }
    // What sets each edge: a thin outline, thicker on the edge it sets.
    const QColor colour(0, 130, 150);
    for (const EdgeSetter &s : setters) {
        const QRect r = InWindow(s.box, g).adjusted(-1, -1, 1, 1);
        painter.setPen(QPen(colour, 1));
        painter.setBrush(QColor(0, 130, 150, 30));
        painter.drawRect(r);
        painter.setPen(QPen(colour, 3));
        switch (s.edge) {
        case EdgeBlock::Top:
            painter.drawLine(r.topLeft(), r.topRight());
            break;
        case EdgeBlock::Bottom:
            painter.drawLine(r.bottomLeft(), r.bottomRight());
            break;
        case EdgeBlock::Left:
            painter.drawLine(r.topLeft(), r.bottomLeft());
            break;
        case EdgeBlock::Right:
            painter.drawLine(r.topRight(), r.bottomRight());
            break;
        }
    }
    painter.restore();
}

std::optional<EdgeSetter> EdgeNotes::SetterAt(QPoint window, const PageGeometry &g) const {
    // The smallest under the pointer: a speck within a line's reach is found.
    std::optional<EdgeSetter> best;
    long bestArea = 0;
    if (m_document.Overlay().Shown())
        return best;
    for (const EdgeSetter &s : m_document.Whole().SettersOn(m_document.CurrentPage())) {
        const QRect r = Around(s, g);
        const long area = long(r.width()) * r.height();
        if (r.contains(window) && (!best || area < bestArea)) {
            best = s;
            bestArea = area;
        }
    }
    return best;
}

QString EdgeNotes::Describe(const EdgeSetter &setter) const {
    // One thing may set more than one edge: a figure alone sets all four.
    static const char *const names[] = {"top", "bottom", "left", "right"};
    QStringList edges;
    for (const EdgeSetter &s : m_document.Whole().SettersOn(m_document.CurrentPage()))
        if (s.box == setter.box && !edges.contains(QLatin1String(names[int(s.edge)])))
            edges << QLatin1String(names[int(s.edge)]);
    if (edges.isEmpty())
        edges << QLatin1String(names[int(setter.edge)]);
    QString list = edges.first();
    for (qsizetype i = 1; i < edges.size(); ++i)
        list += (i + 1 == edges.size() ? QStringLiteral(" and ") : QStringLiteral(", ")) + edges[i];
    return QStringLiteral("%1: sets the %2 %3")
        .arg(QString::fromStdString(SetterName(setter)), list,
             edges.size() == 1 ? QStringLiteral("edge") : QStringLiteral("edges"));
}

QRect EdgeNotes::Around(const EdgeSetter &setter, const PageGeometry &geometry) const {
    return InWindow(setter.box, geometry).adjusted(-kReach, -kReach, kReach, kReach);
}

bool EdgeNotes::Menu(QWidget *parent, QPoint window, const PageGeometry &geometry) {
    const int page = m_document.CurrentPage();
    const std::optional<EdgeSetter> setter = SetterAt(window, geometry);
    std::optional<CropRect> area;
    for (const CropRect &a : m_document.Whole().IgnoredOn(m_document.Overlay().Shown() ? 0 : m_document.CurrentPage()))
        if (InWindow(a, geometry).contains(window))
            area = a;
    if (!setter && !area)
        return false;
    QMenu menu(parent);
    QAction *all = nullptr, *one = nullptr, *back = nullptr;
    if (setter) {
        menu.addSection(Describe(*setter));
        all = menu.addAction(QStringLiteral("Ignore marks like this on all pages"));
        // A line, text or a figure at the same place on other pages is theirs.
        all->setEnabled(setter->what != EdgeSetter::Line && setter->what != EdgeSetter::Figure &&
                        setter->what != EdgeSetter::Text);
        one = menu.addAction(QStringLiteral("Ignore on this page"));
    }
    if (area)
        back = menu.addAction(QStringLiteral("Stop ignoring this area"));
    // The menu's own event loop may show another page meanwhile: then
    // nothing is done.
    const QAction *chosen = menu.exec(parent->mapToGlobal(window));
    if (chosen && (chosen == all || chosen == one) && page == m_document.CurrentPage()) {
        Ignore(*setter, chosen == all);
    } else if (chosen && chosen == back && page == m_document.CurrentPage()) {
        QString reason;
        Tell(m_document.Whole().UnignoreArea(*area, reason), reason);
    }
    return true;
}

void EdgeNotes::Ignore(const EdgeSetter &setter, bool allPages) {
    QString reason;
    Tell(m_document.Whole().IgnoreLike(m_document.CurrentPage(), setter, allPages, reason), reason);
}

QRegion EdgeNotes::Begin(QPoint window) {
    m_drawing = true;
    m_from = m_to = window;
    return QRegion(Band().adjusted(-2, -2, 2, 2));
}

QRegion EdgeNotes::Move(QPoint window) {
    if (!m_drawing)
        return {};
    QRegion dirty(Band().adjusted(-2, -2, 2, 2));
    m_to = window;
    return dirty | Band().adjusted(-2, -2, 2, 2);
}

QRegion EdgeNotes::End(QPoint window, const PageGeometry &g) {
    QRegion dirty = Move(window);
    if (!m_drawing)
        return dirty;
    m_drawing = false;
    const QRect band = Band().intersected(g.PageInWindow());
    if (band.width() < kLeastArea || band.height() < kLeastArea)
        return dirty;
    const QPointF a = g.WindowToPage(band.topLeft()), b = g.WindowToPage(band.bottomRight() + QPoint(1, 1));
    QString reason;
    Tell(m_document.Whole().IgnoreArea(CropRect{a.x(), a.y(), b.x(), b.y()}, reason), reason);
    return dirty;
}

QRegion EdgeNotes::Cancel() {
    if (!m_drawing)
        return {};
    m_drawing = false;
    return QRegion(Band().adjusted(-2, -2, 2, 2));
}

void EdgeNotes::Tell(bool done, const QString &reason) {
    if (!done)
        platform::ShowMessage("Ignore",
                              QStringLiteral("The pages cannot be measured again: %1.").arg(reason).toStdString(),
                              platform::MessageIcon::Warning);
}

}  // namespace crop
