// libFuzzer target: the crop file's reader (the INI engine and the page
// values). A file that was edited by hand or cut short must read as some
// rectangles or none, and what is written back must read back the same.
#include "crop/model/regions/crop_file.h"
#include "platform/ini_file.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    platform::IniDocument ini = platform::IniDocument::Parse(text);
    for (int page = 1; page <= 4; ++page) {
        const std::string value = ini.GetString("PAGE", "page" + std::to_string(page), "0.00,0.00,0.00,0.00", 50);
        const crop::CropRect r = crop::RectFromPageValue(value, 792);
        if (!std::isfinite(r.left) || !std::isfinite(r.top) || !std::isfinite(r.right) || !std::isfinite(r.bottom))
            std::abort();
        ini.Set("PAGE", "page" + std::to_string(page + 4), crop::PageValueFor(r, 792));
    }
    ini.GetInt("AutoShrink", "flag", 0);
    ini.Remove("PAGE", "page1");
    ini.Set("AutoShrink", "flag", "1");
    const std::string once = ini.Serialize();
    if (platform::IniDocument::Parse(once).Serialize() != once)
        std::abort();
    return 0;
}
