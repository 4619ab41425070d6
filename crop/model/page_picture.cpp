#include "crop/model/page_picture.h"

namespace crop {

bool CPagePicture::SetFromBitmap(const render::Bitmap *bitmap, const QRect &pageRect) {
    ClearPicture();
    m_pageRect = pageRect;
    return FromBitmap(bitmap);
}

void CPagePicture::Draw(QPainter &painter, const QRect &dest) const {
    if (HasPicture())
        Paint(painter, dest, nullptr, true);
}

}  // namespace crop
