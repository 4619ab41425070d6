#ifndef CROP_MODEL_PAGE_PICTURE_H
#define CROP_MODEL_PAGE_PICTURE_H

#include "render/bitmap.h"
#include "render/page_image.h"

#include <QRect>

#include <cstdint>
#include <optional>
#include <vector>

namespace crop {

// The picture of the shown page and the page's rectangle in whole points.
class CPagePicture : public render::PageImage {
public:
    bool HasPicture() const { return HasPixels(); }
    const QRect &PageRect() const { return m_pageRect; }
    int PageWidth() const { return m_pageRect.width(); }
    int PageHeight() const { return m_pageRect.height(); }
    // Clears, then copies the bitmap and takes the page rectangle; false
    // (with no picture, the rectangle taken all the same) when the bitmap
    // is null or cannot be copied.
    bool SetFromBitmap(const render::Bitmap *bitmap, const QRect &pageRect);
    // Stretches the whole picture into `dest` with smoothing.
    void Draw(QPainter &painter, const QRect &dest) const;
    void ClearPicture() {
        if (HasPixels())
            Clear();
    }

private:
    QRect m_pageRect;
};

// Rows of `width` x `height` three-byte pixels stored top-down, turned into
// the rows of a picture stored bottom-up, each padded to four bytes
// (`stride` gets their length). Nothing when there is no memory for them.
std::optional<std::vector<uint8_t>> BottomUpRows(const uint8_t *topDown, int width, int height, int &stride);

}  // namespace crop

#endif
