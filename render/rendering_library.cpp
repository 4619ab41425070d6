#include "render/rendering_library.h"
#include "render/ravel_document.h"

#include "platform/dialogs.h"
#include "platform/exe_folder.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace render {
namespace {

std::recursive_mutex g_mutex;
void *g_module = nullptr;
RavelApi g_api;
bool g_quietAttempt = false;

// What every call finds while the library is not loaded: each entry point
// fails the way the library reports a failure.
const RavelApi &Stubs() {
    static const RavelApi stubs = [] {
        RavelApi api;
        api.LoadLibrary = [](const char *) { return 0; };
        api.FreeLibrary = [] {};
        api.OpenFile = [](const char *, int) -> LS_Document { return 0; };
        api.CloseFile = [](LS_Document) {};
        api.Pages = [](LS_Document) { return 0; };
        api.SetResolution = [](LS_Document, int) { return 0; };
        api.PageExtent = [](LS_Document, int, double *, int) { return 0; };
        api.DIBitmap24 = [](LS_Document, int, int, const double *, int, int, int, int32_t *) -> LS_Bitmap * {
            return nullptr;
        };
        api.DeleteBitmap = [](LS_Bitmap *) {};
        api.RenderRegion = [](LS_Document, int, int, int, int, int, int, int) -> LS_Bitmap * { return nullptr; };
        api.NewCancel = []() -> LS_CancelFlag * { return nullptr; };
        api.Cancel = [](LS_CancelFlag *) {};
        api.DeleteCancel = [](LS_CancelFlag *) {};
        api.IsCancelled = [](const LS_CancelFlag *) { return 0; };
        api.RenderRegionCancellable = [](LS_Document, int, int, int, int, int, int, int,
                                         LS_CancelFlag *) -> LS_Bitmap * { return nullptr; };
        api.GetPDFThumbnail = [](const char *, const char *, int, int32_t *) { return 0; };
        api.Thumbnail = [](LS_Document, const char *, int, int32_t *) { return 0; };
        api.ThumbnailCancellable = [](LS_Document, const char *, int, LS_CancelFlag *) { return 0; };
        api.PageSizes = [](LS_Document, double *, int) { return 0; };
        api.RenderGrayCancellable = [](LS_Document, int, int, int, LS_CancelFlag *) -> LS_Bitmap * { return nullptr; };
        api.RenderInkCancellable = [](LS_Document, int, int, int, int, int, int, int, const int32_t *, int32_t *,
                                      LS_CancelFlag *) -> LS_Bitmap * { return nullptr; };
        api.PageFacts = [](LS_Document, int, int32_t *) { return 0; };
        api.InkBoxCancellable = [](LS_Document, int, int, int, int32_t *, LS_CancelFlag *) { return 0; };
        api.PageBox = [](LS_Document, int, int, double *) { return 0; };
        api.SetPageTurn = [](LS_Document, int, double) { return 0; };
        api.SetPageRotation = [](LS_Document, int, int) { return 0; };
        api.OpenFileWithPassword = [](const char *, const char *, int, int32_t *status) -> LS_Document {
            if (status)
                *status = LS_OPEN_UNREADABLE;
            return 0;
        };
        return api;
    }();
    return stubs;
}

bool FileExists(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

template <typename Fn>
bool Bind(void *module, const char *name, Fn &slot) {
    slot = reinterpret_cast<Fn>(::dlsym(module, name));
    return slot != nullptr;
}

// Entry points the program can do without.
bool BindOptional(void *module, RavelApi &api) {
    if (!Bind(module, "LS_PageSizes", api.PageSizes))
        api.PageSizes = Stubs().PageSizes;
    if (!Bind(module, "LS_RenderGrayCancellable", api.RenderGrayCancellable))
        api.RenderGrayCancellable = Stubs().RenderGrayCancellable;
    if (!Bind(module, "LS_RenderInkCancellable", api.RenderInkCancellable))
        api.RenderInkCancellable = Stubs().RenderInkCancellable;
    if (!Bind(module, "LS_OpenFileWithPassword", api.OpenFileWithPassword))
        api.OpenFileWithPassword = Stubs().OpenFileWithPassword;
    if (!Bind(module, "LS_InkBoxCancellable", api.InkBoxCancellable))
        api.InkBoxCancellable = Stubs().InkBoxCancellable;
    if (!Bind(module, "LS_PageFacts", api.PageFacts))
        api.PageFacts = Stubs().PageFacts;
    if (!Bind(module, "LS_PageBox", api.PageBox))
        api.PageBox = Stubs().PageBox;
    if (!Bind(module, "LS_SetPageTurn", api.SetPageTurn))
        api.SetPageTurn = Stubs().SetPageTurn;
    if (!Bind(module, "LS_SetPageRotation", api.SetPageRotation))
        api.SetPageRotation = Stubs().SetPageRotation;
    return true;
}

bool BindAll(void *module, RavelApi &api) {
    // A fixed order; the first missing name fails the load.
    return Bind(module, "LS_LoadLibrary", api.LoadLibrary) && Bind(module, "LS_FreeLibrary", api.FreeLibrary) &&
           Bind(module, "LS_OpenFile", api.OpenFile) && Bind(module, "LS_CloseFile", api.CloseFile) &&
           Bind(module, "LS_Pages", api.Pages) && Bind(module, "LS_SetResolution", api.SetResolution) &&
           Bind(module, "LS_PageExtent", api.PageExtent) && Bind(module, "LS_DIBitmap24", api.DIBitmap24) &&
           Bind(module, "LS_DeleteBitmap", api.DeleteBitmap) && Bind(module, "LS_RenderRegion", api.RenderRegion) &&
           Bind(module, "LS_NewCancel", api.NewCancel) && Bind(module, "LS_Cancel", api.Cancel) &&
           Bind(module, "LS_DeleteCancel", api.DeleteCancel) && Bind(module, "LS_IsCancelled", api.IsCancelled) &&
           Bind(module, "LS_RenderRegionCancellable", api.RenderRegionCancellable) &&
           Bind(module, "LS_GetPDFThumbnail", api.GetPDFThumbnail) && Bind(module, "LS_Thumbnail", api.Thumbnail) &&
           Bind(module, "LS_ThumbnailCancellable", api.ThumbnailCancellable) && BindOptional(module, api);
}

// What dlopen is given for an empty name: the library beside the
// executable when it is there, else the one in the current folder.
std::string DefaultLoadPath() {
    std::string beside = RenderingLibraryPath();
    if (!beside.empty() && FileExists(beside))
        return beside;
    return std::string("./") + kRenderingLibraryName;
}

}  // namespace

std::string RenderingLibraryPath() {
    std::string folder = platform::ExecutableFolder();
    if (folder.empty())
        return {};
    return folder + "/" + kRenderingLibraryName;
}

bool LocateRenderingLibrary() {
    std::string beside = RenderingLibraryPath();
    return (!beside.empty() && FileExists(beside)) || FileExists(kRenderingLibraryName);
}

bool RenderingLibraryLoaded() {
    std::lock_guard<std::recursive_mutex> guard(g_mutex);
    return g_module != nullptr;
}

void UnloadRenderingLibrary() {
    std::lock_guard<std::recursive_mutex> guard(g_mutex);
    if (!g_module)
        return;
    if (g_api.FreeLibrary)
        g_api.FreeLibrary();
    ::dlclose(g_module);
    g_module = nullptr;
    g_api = RavelApi{};
}

bool LoadRenderingLibrary(const std::string &name) {
    std::lock_guard<std::recursive_mutex> guard(g_mutex);
    if (g_module)
        return true;
    std::string path = name.empty() ? DefaultLoadPath() : name;
    g_module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!g_module)
        return false;
    if (!BindAll(g_module, g_api) || !g_api.LoadLibrary(path.c_str())) {
        g_api.FreeLibrary = nullptr;  // never set up, so nothing to release
        UnloadRenderingLibrary();
        return false;
    }
    return true;
}

void EnsureRenderingLibrary() {
    if (LoadRenderingLibrary())
        return;
    const std::string text = std::string("DLL ") + kRenderingLibraryName + " failed to load";
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    platform::ShowMessage("Dynamic Link Error", text, platform::MessageIcon::Error);
    std::exit(1);
}

const RavelApi &Ravel() {
    std::lock_guard<std::recursive_mutex> guard(g_mutex);
    if (!g_module && !g_quietAttempt) {
        g_quietAttempt = true;
        LoadRenderingLibrary();
    }
    return g_module ? g_api : Stubs();
}

}  // namespace render

namespace render {

RavelDocument RavelDocument::Open(const std::string &path, int flag) {
    return RavelDocument(Ravel().OpenFile(path.c_str(), flag));
}

RavelDocument RavelDocument::Open(const std::string &path, int flag, const char *password, int32_t *status) {
    return RavelDocument(Ravel().OpenFileWithPassword(path.c_str(), password, flag, status));
}

RavelDocument &RavelDocument::operator=(RavelDocument &&other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        other.m_handle = 0;
    }
    return *this;
}

void RavelDocument::Close() {
    if (m_handle)
        Ravel().CloseFile(m_handle);
    m_handle = 0;
}

}  // namespace render
