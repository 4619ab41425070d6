#include "app/product_info.h"

#include <ctime>

namespace app {
namespace {

ProductInfo g_product;

int CurrentYear() {
    ::tzset();
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!::localtime_r(&now, &local))
        return 2026;
    return local.tm_year + 1900;
}

}  // namespace

void SetUpProductInfo() {
    g_product.nameWithVersion = "Sorrel Orvane v2.0";
    g_product.copyright = "Copyright (C) 2004-" + std::to_string(CurrentYear()) + " Sorrel Software";
    g_product.homePage = "https://sorrel.example.org/";
    g_product.productPage = "https://sorrel.example.org/orvane/";
    g_product.supportAddress = "support@sorrel.example.org";
}

const ProductInfo &Product() { return g_product; }

}  // namespace app
