#ifndef RENDER_RENDERING_LIBRARY_H
#define RENDER_RENDERING_LIBRARY_H

#include "ravel/ravel.h"

#include <string>

// The binding to libravel.so: found beside the executable (or in the current
// folder), loaded with dlopen, every entry point the program calls bound by
// name. Once loaded it stays loaded until the process ends.

namespace render {

// The entry points, bound by name.
struct RavelApi {
    decltype(&::LS_LoadLibrary) LoadLibrary = nullptr;
    decltype(&::LS_FreeLibrary) FreeLibrary = nullptr;
    decltype(&::LS_OpenFile) OpenFile = nullptr;
    decltype(&::LS_CloseFile) CloseFile = nullptr;
    decltype(&::LS_Pages) Pages = nullptr;
    decltype(&::LS_SetResolution) SetResolution = nullptr;
    decltype(&::LS_PageExtent) PageExtent = nullptr;
    decltype(&::LS_DIBitmap24) DIBitmap24 = nullptr;
    decltype(&::LS_DeleteBitmap) DeleteBitmap = nullptr;
    decltype(&::LS_RenderRegion) RenderRegion = nullptr;
    decltype(&::LS_NewCancel) NewCancel = nullptr;
    decltype(&::LS_Cancel) Cancel = nullptr;
    decltype(&::LS_DeleteCancel) DeleteCancel = nullptr;
    decltype(&::LS_IsCancelled) IsCancelled = nullptr;
    decltype(&::LS_RenderRegionCancellable) RenderRegionCancellable = nullptr;
    decltype(&::LS_GetPDFThumbnail) GetPDFThumbnail = nullptr;
    decltype(&::LS_Thumbnail) Thumbnail = nullptr;
    decltype(&::LS_ThumbnailCancellable) ThumbnailCancellable = nullptr;
    // Bound when the library has it; otherwise a stub that measures
    // nothing, and pages are measured one by one.
    decltype(&::LS_PageSizes) PageSizes = nullptr;
    // Bound when the library has it; otherwise a stub that renders
    // nothing, and callers render in colour.
    decltype(&::LS_RenderGrayCancellable) RenderGrayCancellable = nullptr;
    decltype(&::LS_RenderInkCancellable) RenderInkCancellable = nullptr;
    decltype(&::LS_InkBoxCancellable) InkBoxCancellable = nullptr;
    decltype(&::LS_OpenFileWithPassword) OpenFileWithPassword = nullptr;
    // Bound when the library has them; otherwise stubs that fail: no page
    // is known to be a scan, and none is drawn turned.
    decltype(&::LS_PageFacts) PageFacts = nullptr;
    decltype(&::LS_PageBox) PageBox = nullptr;
    decltype(&::LS_SetPageTurn) SetPageTurn = nullptr;
    decltype(&::LS_SetPageRotation) SetPageRotation = nullptr;
};

// File name of the library.
inline constexpr const char *kRenderingLibraryName = "libravel.so";

// Path of the library beside the running executable.
std::string RenderingLibraryPath();

// TRUE when the library file exists beside the executable or, failing
// that, in the current folder.
bool LocateRenderingLibrary();

// Loads the library: already loaded → true. An empty name means the
// library beside the executable (or, failing that, in the current folder).
// Binds every entry point, then calls LS_LoadLibrary. Any failure unloads
// and returns false.
bool LoadRenderingLibrary(const std::string &name = {});

// Calls LS_FreeLibrary and closes the library, if loaded.
void UnloadRenderingLibrary();

bool RenderingLibraryLoaded();

// The start-up check, made once by the program before anything renders:
// returns only with the library loaded. Otherwise reports
// "DLL libravel.so failed to load" (title "Dynamic Link Error") on standard
// error and in a message box, and ends the process with exit code 1.
void EnsureRenderingLibrary();

// The bound entry points. Any thread may call it at any time: it never
// shows a message or ends the program. When the library is not loaded (one
// quiet attempt is made the first time), every entry point fails as the
// library reports failures: a 0 handle, a null bitmap, a 0 result.
const RavelApi &Ravel();

}  // namespace render

#endif
