#ifndef PANES_LEFT_VIEW_H
#define PANES_LEFT_VIEW_H

#include "crop/orvane_view.h"
#include "panes/thumbnail_strip.h"
#include "render/page_source.h"

#include <QString>
#include <QWidget>

#include <functional>

namespace panes {

// The left pane. Its only child is the thumbnail strip; it owns the open
// document (path, page source, page count, current page) and is the one
// place where a page gets shown.
class CLeftView : public QWidget, public crop::PageNavigator {
    Q_OBJECT
public:
    // Resolution and scale of every page rendering.
    static constexpr int kResolution = 101;
    static constexpr double kScale = 1.5;
    // The pixel size of a page whose extent gives no size (8.5 x 11 inches).
    static constexpr int kDefaultWidthPx = 858;
    static constexpr int kDefaultHeightPx = 1111;

    explicit CLeftView(QWidget *parent = nullptr);
    ~CLeftView() override;

    void SetPageView(crop::COrvaneView *view) { m_pageView = view; }
    // Where "Page No: %d" goes (the status bar's page pane).
    std::function<void(const QString &)> setPageText;

    // Closes the previous document, opens `path` and shows its page 1.
    // False (with `Error()` saying why) when it cannot be opened or shown.
    bool OpenDocument(const QString &path);
    bool OpenSource(const QString &path);
    void CloseSource();
    bool ShowPage(int page);

    CThumbnailListCtrl *Strip() const { return m_thumbs; }
    const QString &DocumentPath() const { return m_documentPath; }
    int PageCountValue() const { return m_pageCount; }
    int CurrentPageValue() const { return m_currentPage; }
    const QString &Error() const { return m_error; }

    // What the page view asks of the document.
    int PageCount() const override { return m_pageCount; }
    int CurrentPage() const override { return m_currentPage; }
    void SelectPage(int index) override;
    void CloseDocument() override { CloseSource(); }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    enum class Move { Refused, Already, Moved };
    // Makes `page` the current page when it is in range and not shown yet.
    Move MoveTo(int page);
    bool ShowRenderedPage(int page);
    bool ShowPicturePage(int page);

    CThumbnailListCtrl *m_thumbs = nullptr;
    crop::COrvaneView *m_pageView = nullptr;
    render::PageSourceHandle m_pageSource;
    int m_pageCount = 0;
    int m_currentPage = 0;
    QString m_documentPath;
    QString m_error;
};

}  // namespace panes

#endif
