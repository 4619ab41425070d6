#include "crop/model/page_picture.h"

#include <algorithm>
#include <cstring>

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

std::optional<std::vector<uint8_t>> BottomUpRows(const uint8_t *topDown, int width, int height, int &stride) {
    stride = 0;
    if (width <= 0 || height <= 0)
        return std::vector<uint8_t>();
    const size_t rowBytes = size_t(width) * 3, padded = (rowBytes + 3) / 4 * 4;
    std::vector<uint8_t> rows;
    try {
        if (padded > rows.max_size() / size_t(height))
            return std::nullopt;
        rows.resize(padded * size_t(height));
    } catch (const std::exception &) {  // no memory, or more than a vector holds
        return std::nullopt;
    }
    for (int y = 0; y < height; ++y)
        std::memcpy(rows.data() + size_t(height - 1 - y) * padded, topDown + size_t(y) * rowBytes, rowBytes);
    stride = int(std::min<size_t>(padded, size_t(INT32_MAX)));
    return rows;
}

}  // namespace crop
