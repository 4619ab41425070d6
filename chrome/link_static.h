#ifndef CHROME_LINK_STATIC_H
#define CHROME_LINK_STATIC_H

#include <QColor>
#include <QLabel>
#include <QString>

namespace chrome {

// A text that looks and behaves like a web link: coloured (blue, purple
// once opened, the highlight colour while the pointer is over it), a hand
// cursor, the target as tooltip, and a click that opens the target. A
// failed open beeps and says why.
class CLinkStatic : public QLabel {
    Q_OBJECT
public:
    explicit CLinkStatic(const QString &text = {}, QWidget *parent = nullptr);

    void SetLinkTarget(const QString &target);
    const QString &LinkTarget() const { return m_target; }
    void MarkVisited(bool visited);
    bool Visited() const { return m_visited; }
    void SetUnderlined(bool underlined);
    bool Underlined() const { return m_underline; }
    bool Over() const { return m_over; }
    // The colour the text is drawn in now.
    QColor TextColour() const;
    // Shrinks the control to its text: the left edge kept for left-aligned
    // text, the centre for centred, the right edge for right-aligned;
    // vertically centred text keeps its middle, other text its top.
    void FitToText();

    static constexpr QRgb kLinkColour = 0xff0000ee;     // RGB(0, 0, 238)
    static constexpr QRgb kVisitedColour = 0xff551a8b;  // RGB(85, 26, 139)

signals:
    // A click opened the target (true) or failed (false).
    void Opened(bool ok);

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void ApplyLook();

    QColor m_hover;
    bool m_over = false;
    bool m_visited = false;
    bool m_underline = true;
    bool m_fitToText = true;
    QString m_target;
};

}  // namespace chrome

#endif
