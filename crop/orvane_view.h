#ifndef CROP_ORVANE_VIEW_H
#define CROP_ORVANE_VIEW_H

#include <QAbstractScrollArea>

namespace crop {

// The page view: the right-hand pane showing one page of the open
// document. Without a page it is a grey area.
class COrvaneView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit COrvaneView(QWidget *parent = nullptr);

    // Whether the view holds a page picture.
    bool HasPicture() const { return m_hasPicture; }
    bool AutoShrink() const { return m_autoShrink; }

    // A command forwarded by the main window.
    void OnCommand(int id);

signals:
    // The picture came or went, or the auto-shrink flag changed.
    void CommandStateChanged();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_hasPicture = false;
    bool m_autoShrink = false;
};

}  // namespace crop

#endif
