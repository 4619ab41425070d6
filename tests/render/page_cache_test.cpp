// The cache of pages rendered ahead: which pages are wanted, its bounds in
// pages and bytes, pages begun before the file changed, and its use from
// render threads while the window's thread reads it.

#include "render/page_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using render::PageCache;

namespace {

PageCache::Page PageOf(int page, int width = 100, int height = 100) {
    auto bitmap = std::make_shared<render::Bitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bitsPerPixel = 24;
    bitmap->stride = (width * 3 + 3) / 4 * 4;
    auto pixels = std::make_shared<std::vector<uint8_t>>(size_t(bitmap->stride) * size_t(height), uint8_t(page));
    bitmap->bits = pixels->data();
    bitmap->storage = pixels;
    PageCache::Page entry;
    entry.page = page;
    entry.bitmap = bitmap;
    entry.widthPt = width;
    entry.heightPt = height;
    return entry;
}

TEST(PageCacheTest, TheNextPageInTheDirectionOfTravelIsWantedFirst) {
    EXPECT_EQ(PageCache::PagesAhead(5, 1, 10), (std::vector<int>{6, 4, 7}));
    EXPECT_EQ(PageCache::PagesAhead(5, -1, 10), (std::vector<int>{4, 6, 3}));
    EXPECT_EQ(PageCache::PagesAhead(1, 1, 10), (std::vector<int>{2, 3}));
    EXPECT_EQ(PageCache::PagesAhead(10, 1, 10), (std::vector<int>{9}));
    EXPECT_EQ(PageCache::PagesAhead(1, -1, 1), (std::vector<int>{}));
    EXPECT_EQ(PageCache::PagesAhead(2, -1, 2), (std::vector<int>{1}));
}

TEST(PageCacheTest, ItKeepsAFewPagesWithinItsBytesAndForgetsWhatIsNoLongerWanted) {
    PageCache cache(3, 100000);
    const uint64_t epoch = cache.Epoch();
    cache.Want({2, 3, 4, 5});
    for (int page : {2, 3, 4})
        cache.Insert(PageOf(page), epoch);
    EXPECT_EQ(cache.Size(), 3u);
    EXPECT_EQ(cache.Bytes(), 3u * 30000u);
    ASSERT_TRUE(cache.Find(3));
    EXPECT_EQ(cache.Find(3)->bitmap->bits[0], 3);
    // A fourth page: the least wanted goes.
    cache.Insert(PageOf(5), epoch);
    EXPECT_EQ(cache.Size(), 3u);
    EXPECT_FALSE(cache.Contains(4));
    EXPECT_TRUE(cache.Contains(5) && cache.Contains(2));
    // A page no longer wanted, come late, pushes nothing out.
    cache.Insert(PageOf(7), epoch);
    EXPECT_FALSE(cache.Contains(7));
    EXPECT_EQ(cache.Size(), 3u);
    // Turning on: what is not wanted any more is let go.
    cache.Want({3, 5});
    EXPECT_EQ(cache.Size(), 2u);
    EXPECT_FALSE(cache.Contains(2));
    // A page larger than the whole budget is not kept.
    cache.Insert(PageOf(6, 400, 400), epoch);
    EXPECT_FALSE(cache.Contains(6));
    EXPECT_EQ(cache.Bytes(), 2u * 30000u);
    // The file changed: everything goes, and a render begun before that is
    // not taken in.
    cache.Clear();
    EXPECT_EQ(cache.Size(), 0u);
    cache.Insert(PageOf(3), epoch);
    EXPECT_FALSE(cache.Contains(3));
    cache.Insert(PageOf(3), cache.Epoch());
    EXPECT_TRUE(cache.Contains(3));
}

TEST(PageCacheTest, RenderThreadsFillItWhileTheWindowsThreadTakesPagesOut) {
    PageCache cache(4, 1 << 20);
    std::atomic<bool> done{false};
    std::vector<std::thread> renderers;
    for (int t = 0; t < 2; ++t)
        renderers.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i)
                cache.Insert(PageOf(1 + (i * 2 + t) % 9, 40, 40), cache.Epoch());
        });
    std::thread reader([&] {
        int seen = 0;
        while (!done.load()) {
            for (int page = 1; page <= 9; ++page)
                if (auto p = cache.Find(page)) {
                    EXPECT_EQ(p->bitmap->bits[0], page);
                    ++seen;
                }
            cache.Want({1, 2, 3});
            if (seen % 50 == 0)
                cache.Clear();
        }
    });
    for (std::thread &t : renderers)
        t.join();
    done = true;
    reader.join();
    EXPECT_LE(cache.Size(), 4u);
}

}  // namespace
