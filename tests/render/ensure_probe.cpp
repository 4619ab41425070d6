// Loads the rendering library the way the program does and says so; used
// by the binding's tests from folders with and without the library.
#include "platform/dialogs.h"
#include "render/rendering_library.h"

#include <cstdio>

int main() {
    platform::SetMessageHandler([](const std::string &title, const std::string &text,
                                   platform::MessageIcon) {
        std::printf("box: %s | %s\n", title.c_str(), text.c_str());
    });
    render::EnsureRenderingLibrary();
    std::printf("loaded\n");
    return 0;
}
