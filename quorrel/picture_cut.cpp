#include "quorrel/picture_cut.h"

#include "quorrel/picture_uses.h"
#include "quorrel/repair.h"

#include <qpdf/Pipeline.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/Pl_String.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace quorrel {
namespace {

// A picture is cut only while its pixels, decoded, fit in this many bytes.
constexpr long long kMostPictureBytes = 1LL << 30;
// JPEGs being cut at once hold at most about this many bytes.
constexpr size_t kMostPendingBytes = 64u << 20;
// The pixels kept: columns x0..x1 and rows y0..y1 (from the top), right
// and bottom exclusive.
struct PixelRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// A cut picture: its stored bytes and filter, and the pixels it holds.
struct Cut {
    long long stored = 0;  // the whole picture's stored bytes
    std::string data;
    QPDFObjectHandle filter, decodeParms;
    PixelRect pixels;
};

// A stream's filters, by name; nothing when they are not plain names.
std::optional<std::vector<std::string>> FiltersOf(QPDFObjectHandle dict) {
    QPDFObjectHandle filter = dict.getKey("/Filter");
    std::vector<std::string> names;
    if (filter.isName())
        names.push_back(filter.getName());
    else if (filter.isArray())
        for (QPDFObjectHandle f : filter.aitems()) {
            if (!f.isName())
                return std::nullopt;
            names.push_back(f.getName());
        }
    else if (!filter.isNull())
        return std::nullopt;
    return names;
}

// The JPEG cut on its block grid by libjpeg-turbo: the rectangle rounded
// outward to whole blocks (MCUs). Where colour is subsampled, a decoder
// smooths a block's colour with its neighbours', so one block more is
// kept beyond each cut: the pixels shown decode exactly as before.
std::optional<Cut> CutJpeg(const std::string &jpeg, int width, int height, PixelRect keep, std::string &why) {
    std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitTransform(), &tjDestroy);
    if (!tj) {
        why = "the JPEG transform cannot start";
        return std::nullopt;
    }
    const auto *bytes = reinterpret_cast<const unsigned char *>(jpeg.data());
    int w = 0, h = 0, subsampling = -1, colourspace = -1;
    if (tjDecompressHeader3(tj.get(), bytes, jpeg.size(), &w, &h, &subsampling, &colourspace) != 0) {
        why = std::string("its JPEG cannot be read (") + tjGetErrorStr2(tj.get()) + ")";
        return std::nullopt;
    }
    if (w != width || h != height || subsampling < 0 || subsampling >= TJ_NUMSAMP) {
        why = "its JPEG is not the size the page gives it";
        return std::nullopt;
    }
    const int bw = tjMCUWidth[subsampling], bh = tjMCUHeight[subsampling];
    const bool smoothed = bw > 8 || bh > 8;
    auto down = [](int v, int block, bool more) { return std::max(0, (v / block - (more ? 1 : 0)) * block); };
    auto up = [](int v, int block, bool more, int limit) {
        return std::min(limit, ((v + block - 1) / block + (more ? 1 : 0)) * block);
    };
    keep = {down(keep.x0, bw, smoothed), down(keep.y0, bh, smoothed), up(keep.x1, bw, smoothed, width),
            up(keep.y1, bh, smoothed, height)};
    if (keep.x0 == 0 && keep.y0 == 0 && keep.x1 == width && keep.y1 == height)
        return std::nullopt;
    tjtransform transform = {};
    transform.r = {keep.x0, keep.y0, keep.x1 - keep.x0, keep.y1 - keep.y0};
    transform.op = TJXOP_NONE;
    transform.options = TJXOPT_CROP;
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    // A warning (a corrupt block) fails the cut too: the picture stays as
    // it was rather than be written from damaged blocks.
    const int failed = tjTransform(tj.get(), bytes, jpeg.size(), 1, &out, &outSize, &transform, TJFLAG_STOPONWARNING);
    std::unique_ptr<unsigned char, void (*)(unsigned char *)> owned(out, &tjFree);
    if (failed || !out) {
        why = std::string("its JPEG cannot be cut (") + tjGetErrorStr2(tj.get()) + ")";
        return std::nullopt;
    }
    return Cut{0, std::string(reinterpret_cast<const char *>(out), outSize), QPDFObjectHandle::newName("/DCTDecode"),
               QPDFObjectHandle(), keep};
}

// Components per pixel of a picture's colour space; 0 when not known.
int Components(QPDFObjectHandle image) {
    QPDFObjectHandle dict = image.getDict();
    if (dict.getKey("/ImageMask").isBool() && dict.getKey("/ImageMask").getBoolValue())
        return 1;
    QPDFObjectHandle cs = dict.getKey("/ColorSpace");
    std::string family = cs.isName() ? cs.getName() : "";
    if (cs.isArray() && cs.getArrayNItems() > 0 && cs.getArrayItem(0).isName())
        family = cs.getArrayItem(0).getName();
    if (family == "/DeviceGray" || family == "/CalGray" || family == "/G" || family == "/Indexed" || family == "/I" ||
        family == "/Separation")
        return 1;
    if (family == "/DeviceRGB" || family == "/CalRGB" || family == "/RGB" || family == "/Lab")
        return 3;
    if (family == "/DeviceCMYK" || family == "/CMYK")
        return 4;
    if (family == "/ICCBased" && cs.getArrayNItems() > 1 && cs.getArrayItem(1).isStream()) {
        QPDFObjectHandle n = cs.getArrayItem(1).getDict().getKey("/N");
        return n.isInteger() && n.getIntValue() >= 1 && n.getIntValue() <= 4 ? int(n.getIntValue()) : 0;
    }
    if (family == "/DeviceN" && cs.getArrayNItems() > 1 && cs.getArrayItem(1).isArray())
        return std::min(cs.getArrayItem(1).getArrayNItems(), 32);
    return 0;
}

// The decoded bytes of a picture, no more than `limit`: decoding stops
// there, so a small stream that inflates without end costs nothing more.
class Bounded : public Pipeline {
public:
    struct Full {};
    Bounded(std::string &out, size_t limit) : Pipeline("picture", nullptr), m_out(out), m_limit(limit) {}
    void write(unsigned char const *data, size_t len) override {
        const size_t room = m_limit - m_out.size();
        m_out.append(reinterpret_cast<const char *>(data), std::min(len, room));
        if (len > room)
            throw Full{};
    }
    void finish() override {}

private:
    std::string &m_out;
    size_t m_limit;
};

// A picture stored losslessly, decoded, cut and stored with Flate.
std::optional<Cut> CutDecoded(QPDFObjectHandle image, int width, int height, PixelRect keep, std::string &why) {
    QPDFObjectHandle dict = image.getDict();
    const bool mask = dict.getKey("/ImageMask").isBool() && dict.getKey("/ImageMask").getBoolValue();
    const int components = Components(image);
    QPDFObjectHandle bpcValue = dict.getKey("/BitsPerComponent");
    const int bpc = mask ? 1 : bpcValue.isInteger() ? int(bpcValue.getIntValue()) : 0;
    if (components == 0 || !(bpc == 1 || bpc == 2 || bpc == 4 || bpc == 8 || bpc == 16))
        return std::nullopt;
    const long long bitsPerPixel = (long long)components * bpc;
    const long long rowBytes = (width * bitsPerPixel + 7) / 8;
    if (rowBytes * height > kMostPictureBytes) {
        why = "it is larger than a picture this tool cuts";
        return std::nullopt;
    }
    // Every row decoded is what counts: what follows the last is not
    // needed, and is not decoded.
    std::string decoded;
    decoded.reserve(size_t(rowBytes * height));
    try {
        Bounded into(decoded, size_t(rowBytes * height));
        image.pipeStreamData(&into, 0, qpdf_dl_generalized, true);
    } catch (const Bounded::Full &) {
    } catch (const std::exception &e) {
        why = std::string("it cannot be decoded (") + e.what() + ")";
        return std::nullopt;
    }
    if ((long long)decoded.size() < rowBytes * height) {
        why = "it holds fewer pixels than its size says, or cannot be decoded";
        return std::nullopt;
    }
    const long long w = keep.x1 - keep.x0, h = keep.y1 - keep.y0;
    const long long outRow = (w * bitsPerPixel + 7) / 8, usedBits = w * bitsPerPixel;
    std::string pixels(size_t(outRow * h), '\0');
    const auto *in = reinterpret_cast<const unsigned char *>(decoded.data());
    for (long long y = 0; y < h; ++y) {
        const unsigned char *row = in + (keep.y0 + y) * rowBytes;
        unsigned char *out = reinterpret_cast<unsigned char *>(pixels.data()) + y * outRow;
        const long long first = keep.x0 * bitsPerPixel;
        if (first % 8 == 0) {
            std::copy(row + first / 8, row + first / 8 + outRow, out);
        } else {
            // Bits taken across byte boundaries.
            const int shift = int(first % 8);
            for (long long k = 0; k < outRow; ++k) {
                const long long b = first / 8 + k;
                const unsigned next = b + 1 < rowBytes ? row[b + 1] : 0;
                out[k] = (unsigned char)((row[b] << shift) | (next >> (8 - shift)));
            }
        }
        if (usedBits % 8)  // the row's padding bits
            out[outRow - 1] &= (unsigned char)(0xff << (8 - usedBits % 8));
    }
    std::string stored;
    Pl_String sink("cut picture", nullptr, stored);
    Pl_Flate flate("cut picture", &sink, Pl_Flate::a_deflate);
    flate.write(reinterpret_cast<const unsigned char *>(pixels.data()), pixels.size());
    flate.finish();
    return Cut{0, std::move(stored), QPDFObjectHandle::newName("/FlateDecode"), QPDFObjectHandle(), keep};
}

// The pixels `shown` (the unit square's part) covers, rounded outward.
PixelRect PixelsOf(const Rect &shown, int width, int height) {
    const double e = 1e-6;
    PixelRect r{int(std::floor(shown.x0 * width + e)), int(std::floor((1 - shown.y1) * height + e)),
                int(std::ceil(shown.x1 * width - e)), int(std::ceil((1 - shown.y0) * height - e))};
    r.x0 = std::clamp(r.x0, 0, width - 1);
    r.y0 = std::clamp(r.y0, 0, height - 1);
    r.x1 = std::clamp(r.x1, r.x0 + 1, width);
    r.y1 = std::clamp(r.y1, r.y0 + 1, height);
    return r;
}

std::string Decimal(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.9f", v);
    std::string s = text;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s == "-0" ? "0" : s;
}

// What becomes of a picture: its cut, or why it stays whole (empty when
// that is nothing the user needs to hear).
struct Outcome {
    std::optional<Cut> cut;
    std::string why;
};

// A JPEG to cut, its bytes read: the work that may go to another thread.
struct JpegWork {
    std::string jpeg;
    int width = 0, height = 0;
    PixelRect keep;
    Outcome Run() const {
        Outcome o;
        o.cut = CutJpeg(jpeg, width, height, keep, o.why);
        if (o.cut)
            o.cut->stored = (long long)jpeg.size();
        return o;
    }
};

// A picture that may be cut: its size, the pixels its uses show, and how
// it is stored.
struct Candidate {
    int width = 0, height = 0;
    PixelRect keep;
    bool jpeg = false;
};

// The picture as one to cut; nothing when it stays whole: it shows all its
// pixels, has a mask of its own (which would need cutting alike), or is
// stored in a way that is not cut (JPEG 2000, JBIG2, CCITT).
std::optional<Candidate> CandidateOf(const Picture &picture) {
    QPDFObjectHandle dict = QPDFObjectHandle(picture.image).getDict();
    QPDFObjectHandle wv = dict.getKey("/Width"), hv = dict.getKey("/Height");
    if (!wv.isInteger() || !hv.isInteger() || wv.getIntValue() < 1 || hv.getIntValue() < 1 ||
        wv.getIntValue() > 1000000 || hv.getIntValue() > 1000000)
        return std::nullopt;
    Candidate c;
    c.width = int(wv.getIntValue());
    c.height = int(hv.getIntValue());
    c.keep = PixelsOf(picture.shown, c.width, c.height);
    if (c.keep.x0 == 0 && c.keep.y0 == 0 && c.keep.x1 == c.width && c.keep.y1 == c.height)
        return std::nullopt;
    if (dict.getKey("/SMask").isStream() || dict.getKey("/Mask").isStream() || dict.hasKey("/Alternates") ||
        dict.hasKey("/SMaskInData"))
        return std::nullopt;
    const std::optional<std::vector<std::string>> filters = FiltersOf(dict);
    if (!filters)
        return std::nullopt;
    c.jpeg = *filters == std::vector<std::string>{"/DCTDecode"};
    static const std::set<std::string> kLossless = {"/FlateDecode",     "/Fl", "/LZWDecode",     "/LZW",
                                                    "/RunLengthDecode", "/RL", "/ASCII85Decode", "/A85",
                                                    "/ASCIIHexDecode",  "/AHx"};
    if (!c.jpeg &&
        !std::all_of(filters->begin(), filters->end(), [](const std::string &f) { return kLossless.count(f); }))
        return std::nullopt;
    return c;
}

// The cut of `picture` as far as it is made here: a JPEG's is left to do,
// with its bytes; any other's is done into `outcome`.
std::optional<JpegWork> Prepare(const Picture &picture, Outcome &outcome) {
    std::string &why = outcome.why;
    QPDFObjectHandle image = picture.image;
    const std::optional<Candidate> candidate = CandidateOf(picture);
    if (!candidate)
        return std::nullopt;
    const auto [width, height, keep, jpeg] = *candidate;
    if (jpeg && (long long)width * height * 4 > kMostPictureBytes) {
        why = "it is larger than a picture this tool cuts";
        return std::nullopt;
    }
    std::shared_ptr<Buffer> raw;
    try {
        raw = image.getRawStreamData();
    } catch (const std::exception &e) {
        why = std::string("it cannot be read (") + e.what() + ")";
        return std::nullopt;
    }
    if (jpeg)
        return JpegWork{std::string(reinterpret_cast<const char *>(raw->getBuffer()), raw->getSize()), width, height,
                        keep};
    outcome.cut = CutDecoded(image, width, height, keep, why);
    if (outcome.cut)
        outcome.cut->stored = (long long)raw->getSize();
    return std::nullopt;
}

// The cut pictures' bytes, kept in an unnamed temporary file until the
// copy is written rather than in memory: a long scanned book's pictures
// are as large as the book.
class CutStore : public QPDFObjectHandle::StreamDataProvider {
public:
    CutStore() : m_fd(UnnamedFile()) {}
    ~CutStore() override {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CutStore(const CutStore &) = delete;
    CutStore &operator=(const CutStore &) = delete;

    // Gives `stream` the bytes `data`, held in the file; in memory when
    // the file cannot take them.
    void Give(QPDFObjectHandle stream, const std::string &data, QPDFObjectHandle filter, QPDFObjectHandle parms,
              const std::shared_ptr<CutStore> &self) {
        size_t written = 0;
        while (m_fd >= 0 && written < data.size()) {
            const ssize_t n = ::pwrite(m_fd, data.data() + written, data.size() - written, m_end + off_t(written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            written += size_t(n);
        }
        if (m_fd < 0 || written < data.size()) {
            stream.replaceStreamData(data, filter, parms);
            return;
        }
        m_places[stream.getObjGen()] = {m_end, data.size()};
        m_end += off_t(data.size());
        stream.replaceStreamData(std::static_pointer_cast<StreamDataProvider>(self), filter, parms);
    }

    void provideStreamData(QPDFObjGen const &og, Pipeline *pipeline) override {
        const auto place = m_places.find(og);
        if (place == m_places.end())
            throw std::runtime_error("a cut picture's bytes are missing");
        std::vector<unsigned char> buffer(1 << 16);
        for (size_t done = 0; done < place->second.second;) {
            const size_t want = std::min(buffer.size(), place->second.second - done);
            const ssize_t n = ::pread(m_fd, buffer.data(), want, place->second.first + off_t(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw std::runtime_error(std::string("a cut picture cannot be read back: ") + std::strerror(errno));
            pipeline->write(buffer.data(), size_t(n));
            done += size_t(n);
        }
        pipeline->finish();
    }

private:
    int m_fd;
    off_t m_end = 0;
    std::map<QPDFObjGen, std::pair<off_t, size_t>> m_places;
};

// The page's own list of the pictures and forms it draws: on first use a
// copy of the one it had (which patterns, annotations and other pages may
// share, and keep), on later ones that copy.
QPDFObjectHandle PrivateXObjects(QPDFObjectHandle page, std::set<QPDFObjGen> &privatised) {
    if (privatised.insert(page.getObjGen()).second) {
        QPDFObjectHandle resources = QPDFPageObjectHelper(page).getAttribute("/Resources", false);
        QPDFObjectHandle own = resources.isDictionary() ? resources.shallowCopy() : QPDFObjectHandle::newDictionary();
        QPDFObjectHandle xobjects = own.getKey("/XObject");
        own.replaceKey("/XObject",
                       xobjects.isDictionary() ? xobjects.shallowCopy() : QPDFObjectHandle::newDictionary());
        page.replaceKey("/Resources", own);
    }
    return page.getKey("/Resources").getKey("/XObject");
}

// Puts the cut picture where every page that drew the picture had it: a
// form that draws it where its pixels were on the unit square.
void PlaceCut(QPDF &pdf, Picture &p, Cut &cut, const std::shared_ptr<CutStore> &store,
              std::set<QPDFObjGen> &privatised) {
    QPDFObjectHandle dict = p.image.getDict().shallowCopy();
    for (const char *key : {"/Length", "/Filter", "/DecodeParms"})
        dict.removeKey(key);
    const PixelRect &k = cut.pixels;
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(k.x1 - k.x0));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(k.y1 - k.y0));
    if (cut.filter.isName() && cut.filter.getName() == "/DCTDecode" && p.image.getDict().hasKey("/DecodeParms")) {
        // The filter's own parameters: one entry of a list of one.
        QPDFObjectHandle parms = p.image.getDict().getKey("/DecodeParms");
        cut.decodeParms = parms.isArray() ? parms.getArrayItem(0) : parms;
    }
    QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf);
    image.replaceDict(dict);
    store->Give(image, cut.data, cut.filter,
                cut.decodeParms.isInitialized() ? cut.decodeParms : QPDFObjectHandle::newNull(), store);

    const double width = p.image.getDict().getKey("/Width").getIntValue();
    const double height = p.image.getDict().getKey("/Height").getIntValue();
    const std::string place = "q " + Decimal((k.x1 - k.x0) / width) + " 0 0 " + Decimal((k.y1 - k.y0) / height) + " " +
                              Decimal(k.x0 / width) + " " + Decimal(1 - k.y1 / height) + " cm /I Do Q\n";
    QPDFObjectHandle form = QPDFObjectHandle::newStream(&pdf, place);
    QPDFObjectHandle formDict = form.getDict();
    formDict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    formDict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
    formDict.replaceKey("/BBox",
                        QPDFObjectHandle::newArray({QPDFObjectHandle::newInteger(0), QPDFObjectHandle::newInteger(0),
                                                    QPDFObjectHandle::newInteger(1), QPDFObjectHandle::newInteger(1)}));
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/I", image);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    formDict.replaceKey("/Resources", resources);
    for (auto &[page, name] : p.uses)
        PrivateXObjects(page, privatised).replaceKey(name, form);
}

// The bytes a picture is stored in, as its dictionary gives them.
long long StoredLength(QPDFObjectHandle image) {
    QPDFObjectHandle length = image.getDict().getKey("/Length");
    return length.isInteger() ? std::max(0LL, length.getIntValue()) : 0;
}

}  // namespace

CutEstimate EstimateCuts(QPDF &pdf) {
    CutEstimate estimate;
    // A picture's bytes lie mostly where its print is, which the crop
    // keeps: the share of its pixels kept says too little. A few pictures
    // are cut for real, and what they keep against their share of pixels
    // corrects the others'.
    constexpr int kSampled = 4;
    int sampled = 0;
    double sampledShare = 0, sampledKept = 0, rest = 0;
    for (auto &[og, p] : FindPictures(pdf)) {
        if (p.whole)
            continue;
        const long long stored = StoredLength(p.image);
        if (p.shown.Empty()) {  // wholly outside: removed
            ++estimate.pictures;
            estimate.before += stored;
            continue;
        }
        const std::optional<Candidate> candidate = CandidateOf(p);
        if (!candidate)
            continue;
        const PixelRect &keep = candidate->keep;
        const double share =
            double(keep.x1 - keep.x0) * (keep.y1 - keep.y0) / (double(candidate->width) * candidate->height);
        ++estimate.pictures;
        estimate.before += stored;
        Outcome outcome;
        std::optional<JpegWork> work;
        if (sampled < kSampled) {
            try {
                work = Prepare(p, outcome);
                if (work)
                    outcome = work->Run();
            } catch (const std::exception &) {
                outcome = Outcome();
            }
        }
        if (outcome.cut && outcome.cut->stored > 0) {
            ++sampled;
            const double kept = double(std::min<long long>((long long)outcome.cut->data.size(), stored));
            estimate.after += (long long)kept;
            sampledShare += double(stored) * share;
            sampledKept += kept;
        } else {
            rest += double(stored) * share;
        }
    }
    const double correction = sampledShare > 0 ? sampledKept / sampledShare : 1;
    estimate.after += (long long)std::min(rest * correction, double(estimate.before));
    return estimate;
}

PictureCuts CutPictures(QPDF &pdf) {
    PictureCuts report;
    Pictures pictures = FindPictures(pdf);
    // JPEGs are cut on every core, a few at a time; the rest, and the
    // placing of every cut, here.
    const auto store = std::make_shared<CutStore>();
    std::set<QPDFObjGen> privatised;  // pages given a list of their own
    auto settle = [&](Picture &p, Outcome o) {
        if (!o.cut) {
            if (!o.why.empty())
                report.warnings.push_back("page " + std::to_string(p.page) + ": a picture is kept whole, because " +
                                          o.why);
            return;
        }
        if ((long long)o.cut->data.size() >= o.cut->stored)
            return;  // no smaller cut
        PlaceCut(pdf, p, *o.cut, store, privatised);
        ++report.cut;
        report.before += o.cut->stored;
        report.after += (long long)o.cut->data.size();
    };
    struct Pending {
        Picture *picture;
        std::future<Outcome> outcome;
        size_t bytes;
    };
    std::deque<Pending> pending;
    size_t pendingBytes = 0;
    const size_t workers = std::max(2u, std::thread::hardware_concurrency());
    auto settleFirst = [&] {
        Pending first = std::move(pending.front());
        pending.pop_front();
        pendingBytes -= first.bytes;
        Outcome o;
        try {
            o = first.outcome.get();
        } catch (const std::exception &e) {
            o.why = e.what();
        }
        settle(*first.picture, std::move(o));
    };
    for (auto &[og, p] : pictures) {
        if (p.whole || p.shown.Empty())
            continue;
        Outcome now;
        std::optional<JpegWork> work;
        try {
            work = Prepare(p, now);
        } catch (const std::exception &e) {
            now.why = e.what();
        }
        if (!work) {
            settle(p, std::move(now));
            continue;
        }
        const size_t bytes = work->jpeg.size();
        pending.push_back({&p, std::async(std::launch::async, [w = std::move(*work)] { return w.Run(); }), bytes});
        pendingBytes += bytes;
        while (pending.size() >= workers || pendingBytes > kMostPendingBytes)
            settleFirst();
    }
    while (!pending.empty())
        settleFirst();
    return report;
}

}  // namespace quorrel
