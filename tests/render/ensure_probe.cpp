// Loads the rendering library the way the program does and says so; used
// by the binding's tests from folders with and without the library. With
// "calls" it skips the start-up check and only calls entry points, as any
// later part of the program does.
#include "platform/dialogs.h"
#include "render/rendering_library.h"

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
    platform::SetMessageHandler([](const std::string &title, const std::string &text, platform::MessageIcon) {
        std::printf("box: %s | %s\n", title.c_str(), text.c_str());
    });
    if (argc > 1 && std::strcmp(argv[1], "calls") == 0) {
        const render::RavelApi &api = render::Ravel();
        const LS_Document doc = api.OpenFile("anything.pdf", 1);
        std::printf("calls: handle %d pages %d\n", int(doc != 0), api.Pages(doc));
        return 0;
    }
    render::EnsureRenderingLibrary();
    std::printf("loaded\n");
    return 0;
}
