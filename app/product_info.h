#ifndef APP_PRODUCT_INFO_H
#define APP_PRODUCT_INFO_H

#include <string>

namespace app {

// The product texts, filled once at start-up and only read afterwards.
struct ProductInfo {
    std::string nameWithVersion;  // settings key, window title, About caption
    std::string copyright;        // year range ends with the current year
    std::string homePage;
    std::string productPage;  // opened by Help and Contact us
    std::string supportAddress;
};

// Fills the texts (the copyright's end year from the local clock).
void SetUpProductInfo();
const ProductInfo &Product();

// Settings location: organisation and application names.
inline constexpr const char *kSettingsOrganisation = "Sorrel Orvane v2.0";
inline constexpr const char *kSettingsApplication = "Orvane";

}  // namespace app

#endif
