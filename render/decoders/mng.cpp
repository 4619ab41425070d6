// MNG and JNG through libmng. The stream is played without waiting: every
// time libmng stops for a timer, or finishes, after drawing something, a
// frame is complete; the picture of the requested frame is kept, and the
// frames are counted to the end of the first pass (animations that loop
// are not played again).

#include "render/decoders/decoders.h"

#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <vector>

extern "C" {
#include <libmng.h>
}

namespace render {
namespace {

constexpr uint32_t kMaxFrames = 10000;

struct Playback {
    ByteSpan data;
    size_t pos = 0;
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> canvas;   // RGBA rows
    std::vector<uint8_t> picture;  // the requested frame
    uint32_t frames = 0;
    int target = 0;
    uint32_t clock = 0;
    std::string error;
    bool tooLarge = false;
    bool drawn = false;  // the canvas changed since the last frame was counted
};

Playback &Of(mng_handle h) { return *static_cast<Playback *>(mng_get_userdata(h)); }

// libmng loses a few of its blocks on some damaged files; every block it
// takes is recorded so that whatever it leaves behind is freed after the
// decoder is closed.
thread_local std::unordered_set<void *> *t_blocks = nullptr;

mng_ptr MNG_DECL Alloc(mng_size_t n) {
    void *p = std::calloc(1, n);
    if (p && t_blocks) {
        try {
            t_blocks->insert(p);
        } catch (...) {
            std::free(p);
            return nullptr;
        }
    }
    return p;
}

void MNG_DECL Free(mng_ptr p, mng_size_t) {
    if (p && t_blocks)
        t_blocks->erase(p);
    std::free(p);
}
mng_bool MNG_DECL OpenStream(mng_handle) { return MNG_TRUE; }
mng_bool MNG_DECL CloseStream(mng_handle) { return MNG_TRUE; }

mng_bool MNG_DECL ReadData(mng_handle h, mng_ptr buf, mng_uint32 len, mng_uint32p read) {
    Playback &p = Of(h);
    const size_t n = std::min<size_t>(len, p.data.size() - p.pos);
    std::memcpy(buf, p.data.data() + p.pos, n);
    p.pos += n;
    *read = mng_uint32(n);
    return MNG_TRUE;
}

mng_bool MNG_DECL ProcessHeader(mng_handle h, mng_uint32 w, mng_uint32 ht) {
    Playback &p = Of(h);
    if (w == 0 || ht == 0 || !WithinPageImageLimit(w, ht, 24) || !WithinPageImageLimit(w, ht, 32)) {
        p.tooLarge = w && ht;
        p.error = p.tooLarge ? "PAGEIMAGE_MAX_MEMORY exceeded" : "MNG: bad dimensions";
        return MNG_FALSE;
    }
    p.width = w;
    p.height = ht;
    p.canvas.assign(size_t(w) * ht * 4, 0);
    return mng_set_canvasstyle(h, MNG_CANVAS_RGBA8) == MNG_NOERROR;
}

mng_ptr MNG_DECL CanvasLine(mng_handle h, mng_uint32 line) {
    Playback &p = Of(h);
    if (line >= p.height)
        return nullptr;
    return &p.canvas[size_t(line) * p.width * 4];
}

mng_bool MNG_DECL Refresh(mng_handle h, mng_uint32, mng_uint32, mng_uint32, mng_uint32) {
    Of(h).drawn = true;
    return MNG_TRUE;
}
mng_uint32 MNG_DECL TickCount(mng_handle h) { return Of(h).clock; }

mng_bool MNG_DECL SetTimer(mng_handle h, mng_uint32 ms) {
    Playback &p = Of(h);
    p.clock += ms;
    return MNG_TRUE;
}

mng_bool MNG_DECL OnError(mng_handle h, mng_int32, mng_int8 severity, mng_chunkid, mng_uint32, mng_int32, mng_int32,
                          mng_pchar text) {
    Playback &p = Of(h);
    if (p.error.empty() && severity > 1)
        p.error = std::string("MNG: ") + (text ? text : "cannot read the file");
    return MNG_FALSE;
}

}  // namespace

bool DecodeMng(ByteSpan data, PageImage &image) {
    static const uint8_t mngSig[8] = {0x8a, 'M', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
    static const uint8_t jngSig[8] = {0x8b, 'J', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
    if (data.size() < 8 || (std::memcmp(data.data(), mngSig, 8) != 0 && std::memcmp(data.data(), jngSig, 8) != 0))
        return Fail(image, "MNG: not an MNG or JNG file");
    Playback p;
    p.data = data;
    p.target = image.FrameIndex();
    std::unordered_set<void *> blocks;
    t_blocks = &blocks;
    struct Sweep {
        std::unordered_set<void *> &blocks;
        ~Sweep() {
            t_blocks = nullptr;
            for (void *b : blocks)
                std::free(b);
        }
    } sweep{blocks};
    mng_handle h = mng_initialize(&p, Alloc, Free, MNG_NULL);
    if (!h)
        return Fail(image, "MNG: cannot start the decoder");
    mng_setcb_openstream(h, OpenStream);
    mng_setcb_closestream(h, CloseStream);
    mng_setcb_readdata(h, ReadData);
    mng_setcb_errorproc(h, OnError);
    mng_setcb_processheader(h, ProcessHeader);
    mng_setcb_getcanvasline(h, CanvasLine);
    mng_setcb_refresh(h, Refresh);
    mng_setcb_gettickcount(h, TickCount);
    mng_setcb_settimer(h, SetTimer);

    // A frame is complete each time playback stops for a timer, and at the end.
    mng_retcode rc = mng_readdisplay(h);
    bool done = false;
    while (!done) {
        if (rc == MNG_NEEDTIMERWAIT || rc == MNG_NOERROR) {
            if (!p.canvas.empty() && p.drawn) {
                if (int(p.frames) == p.target)
                    p.picture = p.canvas;
                ++p.frames;
                p.drawn = false;
            }
            // One pass is enough: a loop shows the same frames again.
            const bool looped = mng_get_totalframes(h) > 0 && p.frames >= mng_get_totalframes(h);
            if (rc == MNG_NOERROR || looped || p.frames >= kMaxFrames)
                done = true;
            else
                rc = mng_display_resume(h);
        } else {
            done = true;
        }
    }
    const bool failed = rc != MNG_NOERROR && rc != MNG_NEEDTIMERWAIT;
    mng_cleanup(&h);
    if (p.tooLarge)
        return Fail(image, p.error);
    if (failed && p.picture.empty())
        return Fail(image, p.error.empty() ? "MNG: cannot decode the file" : p.error);
    if (p.frames == 0)
        return Fail(image, "MNG: the file has no pictures");
    if (!CheckFrame(image, int(p.frames), "MNG"))
        return false;
    if (!image.Allocate(p.width, p.height, 24, kFormatMng))
        return false;
    for (uint32_t y = 0; y < p.height; ++y)
        PutRgbRow(image, y, &p.picture[size_t(y) * p.width * 4], 4);
    return true;
}

}  // namespace render
