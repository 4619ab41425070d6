#include "render/page_source.h"

#include "render/page_image.h"
#include "render/rendering_library.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <new>

namespace render {

namespace {

std::string LowerExtension(const std::string &path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

// Reads the bounds of an enhanced metafile from its header record; false
// when the file is not one.
bool ReadMetafileHeader(const std::string &path, PageExtent &bounds) {
    std::ifstream in(path, std::ios::binary);
    uint8_t h[108] = {0};
    if (!in.read(reinterpret_cast<char *>(h), sizeof h))
        return false;
    auto le32 = [&](int at) {
        return int32_t(uint32_t(h[at]) | (uint32_t(h[at + 1]) << 8) | (uint32_t(h[at + 2]) << 16) |
                       (uint32_t(h[at + 3]) << 24));
    };
    const bool header = le32(0) == 1 && le32(4) >= 88 && h[40] == ' ' && h[41] == 'E' && h[42] == 'M' && h[43] == 'F';
    if (!header)
        return false;
    bounds = PageExtent{0, 0, double(int64_t(le32(16)) - le32(8)), double(int64_t(le32(20)) - le32(12))};
    return true;
}

}  // namespace

std::unique_ptr<PageSource> PageSource::Open(const std::string &path, int openFlag) {
    return Open(path, openFlag, nullptr, nullptr);
}

std::unique_ptr<PageSource> PageSource::Open(const std::string &path, int openFlag, const platform::Secret *password,
                                             OpenFailure *why) {
    if (why)
        *why = OpenFailure::Unreadable;
    std::unique_ptr<PageSource> source(new PageSource);
    source->m_path = path;
    const std::string ext = LowerExtension(path);
    bool opened = false;
    if (ext == ".pdf") {
        source->m_kind = SourceKind::Pdf;
        if (LocateRenderingLibrary()) {
            int32_t status = LS_OPEN_UNREADABLE;
            source->m_document = RavelDocument::Open(path, openFlag, password ? password->CStr() : nullptr, &status);
            opened = bool(source->m_document);
            if (why && status == LS_OPEN_NEEDS_PASSWORD)
                *why = OpenFailure::NeedsPassword;
            else if (why && status == LS_OPEN_WRONG_PASSWORD)
                *why = OpenFailure::WrongPassword;
        }
    } else if (ext == ".emf") {
        source->m_kind = SourceKind::Metafile;
        opened = ReadMetafileHeader(path, source->m_metafileBounds);
    } else {
        source->m_kind = SourceKind::Image;
        opened = source->m_image.LoadFile(path, kFormatDetect);
        source->m_decodes = 1;
    }
    if (!opened)
        return nullptr;
    if (why)
        *why = OpenFailure::None;
    return source;
}

int PageSource::PageCount() {
    switch (m_kind) {
    case SourceKind::Pdf:
        m_pageCount = Ravel().Pages(m_document.Handle());
        break;
    case SourceKind::Metafile:
        m_pageCount = 1;
        break;
    case SourceKind::Image:
        m_pageCount = std::max(m_image.FrameCount(), 1);
        break;
    case SourceKind::None:
        break;
    }
    return m_pageCount;
}

void PageSource::SetResolution(int dpi) {
    if (m_kind == SourceKind::Pdf)
        Ravel().SetResolution(m_document.Handle(), dpi);
}

std::vector<std::pair<double, double>> PageSource::PageSizes() {
    const int count = PageCount();
    if (m_kind != SourceKind::Pdf || count < 1)
        return {};
    std::vector<double> sizes;
    std::vector<std::pair<double, double>> pages;
    try {
        sizes.resize(static_cast<size_t>(count) * 2);
        pages.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc &) {
        return {};
    }
    ApplyRotations();
    if (Ravel().PageSizes(m_document.Handle(), sizes.data(), count) != count)
        return {};
    for (size_t i = 0; i < pages.size(); ++i)
        pages[i] = {sizes[2 * i], sizes[2 * i + 1]};
    return pages;
}

int PageSource::PageExtent(int page, render::PageExtent *extent, int extra) {
    if (!extent)
        return 0;
    switch (m_kind) {
    case SourceKind::Pdf: {
        ApplyRotations();
        double box[4] = {extent->x1, extent->y1, extent->x2, extent->y2};
        const int result = Ravel().PageExtent(m_document.Handle(), page, box, extra);
        *extent = render::PageExtent{box[0], box[1], box[2], box[3]};
        return result;
    }
    case SourceKind::Metafile:
        *extent = m_metafileBounds;
        return 1;
    case SourceKind::Image:
        *extent = render::PageExtent{0, 0, double(m_image.Width()), double(m_image.Height())};
        return 1;
    case SourceKind::None:
        break;
    }
    return 1;
}

namespace {

// The library's picture, owned by the bitmap that points into it.
BitmapHandle Adopt(const RavelApi &api, LS_Bitmap *raw) {
    if (!raw)
        return nullptr;
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->width = raw->width;
    bitmap->height = raw->height;
    bitmap->bitsPerPixel = raw->bitsPerPixel;
    bitmap->stride = raw->stride;
    bitmap->bits = raw->bits;
    auto deleteBitmap = api.DeleteBitmap;
    bitmap->storage = std::shared_ptr<const void>(
        raw, [deleteBitmap](const void *p) { deleteBitmap(static_cast<LS_Bitmap *>(const_cast<void *>(p))); });
    return bitmap;
}

}  // namespace

BitmapHandle PageSource::RenderPage(int zero1, int page, const double *scale, int zero2, int width, int height,
                                    int32_t *slot) {
    if (m_kind != SourceKind::Pdf || !m_document)
        return nullptr;
    ApplyTurn(page);
    const RavelApi &api = Ravel();
    return Adopt(api, api.DIBitmap24(m_document.Handle(), zero1, page, scale, zero2, width, height, slot));
}

namespace {

BitmapHandle WithGreyPalette(BitmapHandle bitmap) {
    if (bitmap) {
        bitmap->palette.resize(256);
        for (int v = 0; v < 256; ++v)
            bitmap->palette[size_t(v)] = RgbQuad{uint8_t(v), uint8_t(v), uint8_t(v), 0};
    }
    return bitmap;
}

}  // namespace

void PageSource::ApplyRotations() {
    if (m_kind != SourceKind::Pdf || !m_document || !m_turns || m_turns->RotationVersion() == m_rotationVersion)
        return;
    unsigned version = 0;
    const std::map<int, int> wanted = m_turns->Rotations(version);
    bool all = true;
    for (const auto &[page, degrees] : m_rotated)
        if (!wanted.count(page))
            all = Ravel().SetPageRotation(m_document.Handle(), page, 0) && all;
    for (const auto &[page, degrees] : wanted)
        all = Ravel().SetPageRotation(m_document.Handle(), page, degrees) && all;
    m_rotated = wanted;
    if (all)
        m_rotationVersion = version;
}

double PageSource::ApplyTurn(int page) {
    if (m_kind != SourceKind::Pdf || !m_document)
        return 0;
    ApplyRotations();
    const double turn = m_turns ? m_turns->Of(page) : 0;
    const auto applied = m_applied.find(page);
    if ((applied == m_applied.end() ? 0 : applied->second) == turn)
        return turn;
    if (Ravel().SetPageTurn(m_document.Handle(), page, turn))
        m_applied[page] = turn;
    return turn;
}

std::optional<render::PageExtent> PageSource::Box(int page, int which) {
    double box[4] = {0, 0, 0, 0};
    ApplyRotations();
    if (m_kind != SourceKind::Pdf || !m_document || !Ravel().PageBox(m_document.Handle(), page, which, box))
        return std::nullopt;
    return render::PageExtent{box[0], box[1], box[2], box[3]};
}

std::optional<PageFacts> PageSource::Facts(int page) {
    int32_t facts[3] = {0, 0, 0};
    if (m_kind != SourceKind::Pdf || !m_document || !Ravel().PageFacts(m_document.Handle(), page, facts))
        return std::nullopt;
    return PageFacts{facts[0] / 1000.0, facts[1], facts[2]};
}

BitmapHandle PageSource::RenderGrey(int page, int width, int height, LS_CancelFlag *cancel) {
    ApplyTurn(page);
    if (m_kind != SourceKind::Pdf || !m_document)
        return nullptr;
    const RavelApi &api = Ravel();
    return WithGreyPalette(Adopt(api, api.RenderGrayCancellable(m_document.Handle(), page, width, height, cancel)));
}

BitmapHandle PageSource::RenderInk(int page, int width, int height, const QRect &region, const QRect &inside,
                                   QRect *leftOut, LS_CancelFlag *cancel) {
    ApplyTurn(page);
    if (leftOut)
        *leftOut = QRect();
    if (m_kind != SourceKind::Pdf || !m_document || region.isEmpty())
        return nullptr;
    const RavelApi &api = Ravel();
    const int32_t in[4] = {inside.left(), inside.top(), inside.right() + 1, inside.bottom() + 1};
    int32_t out[4] = {0, 0, 0, 0};
    BitmapHandle bitmap = WithGreyPalette(Adopt(
        api, api.RenderInkCancellable(m_document.Handle(), page, width, height, region.x(), region.y(), region.width(),
                                      region.height(), inside.isEmpty() ? nullptr : in, out, cancel)));
    if (bitmap && leftOut && out[2] > out[0] && out[3] > out[1])
        *leftOut = QRect(QPoint(out[0], out[1]), QPoint(out[2] - 1, out[3] - 1));
    return bitmap;
}

PageSource::InkBoxResult PageSource::InkBox(int page, int width, int height, QRect &box, QSize &drawn,
                                            LS_CancelFlag *cancel) {
    ApplyTurn(page);
    if (m_kind != SourceKind::Pdf || !m_document)
        return InkBoxResult::Unknown;
    int32_t out[4] = {0, 0, 0, 0};
    const int found = Ravel().InkBoxCancellable(m_document.Handle(), page, width, height, out, cancel);
    switch (found) {
    case 1:
        if (out[2] <= out[0] || out[3] <= out[1])
            return InkBoxResult::Unknown;
        box = QRect(QPoint(out[0], out[1]), QPoint(out[2] - 1, out[3] - 1));
        return InkBoxResult::Found;
    case 2:
        return InkBoxResult::Blank;
    case 3:
    case 4:
        if (out[0] <= 0 || out[1] <= 0 || out[2] <= 0 || out[3] <= 0)
            return InkBoxResult::Unknown;
        box = QRect(0, 0, out[0], out[1]);
        drawn = QSize(out[2], out[3]);
        return found == 4 ? InkBoxResult::GreyScan : InkBoxResult::Scan;
    default:
        return InkBoxResult::Unknown;
    }
}

BitmapHandle PageSource::RenderRegion(int page, int width, int height, int x, int y, int w, int h) {
    ApplyTurn(page);
    if (m_kind != SourceKind::Pdf || !m_document)
        return nullptr;
    const RavelApi &api = Ravel();
    return Adopt(api, api.RenderRegion(m_document.Handle(), page, width, height, x, y, w, h));
}

BitmapHandle PageSource::RenderRegion(int page, int width, int height, int x, int y, int w, int h,
                                      LS_CancelFlag *cancel) {
    ApplyTurn(page);
    if (m_kind != SourceKind::Pdf || !m_document)
        return nullptr;
    const RavelApi &api = Ravel();
    return Adopt(api, api.RenderRegionCancellable(m_document.Handle(), page, width, height, x, y, w, h, cancel));
}

BitmapHandle PageSource::RenderFrame(int page) {
    if (m_kind != SourceKind::Image)
        return nullptr;
    const int held = m_image.FrameIndex();
    if (held != page - 1) {
        m_image.SetFrameIndex(page - 1);
        ++m_decodes;
        if (!m_image.LoadFile(m_path, kFormatDetect)) {
            // The picture still holds the frame it had; so does the index.
            m_image.SetFrameIndex(held);
            return nullptr;
        }
    }
    return m_image.ToBitmap();
}

}  // namespace render
