#include "crop/page_picture.h"

namespace crop {

bool CPagePicture::SetFromBitmap(const render::Bitmap *bitmap, const QRect &pageRect) {
    ClearPicture();
    if (!FromBitmap(bitmap))
        return false;
    m_pageRect = pageRect;
    return true;
}

void CPagePicture::Draw(QPainter &painter, const QRect &dest) const {
    if (HasPicture())
        Paint(painter, dest, nullptr, true);
}

}  // namespace crop
