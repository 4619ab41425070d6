// The binding: finding, loading and binding libravel.so, and the end of the
// program when it is missing or incomplete.

#include "render/rendering_library.h"
#include "tests/fixtures/temp_dir.h"

#include <QCoreApplication>
#include <QProcess>

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

struct ProbeResult {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs a copy of the probe that lies in `folder`, with `folder` as the
// current folder.
ProbeResult RunProbeIn(const fs::path &folder, const QStringList &arguments = {}) {
    fs::copy_file(fs::path(PROBE_PATH), folder / "ensure_probe", fs::copy_options::overwrite_existing);
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(folder.string()));
    p.start(QString::fromStdString((folder / "ensure_probe").string()), arguments);
    p.waitForFinished(30000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

TEST(RenderingLibrary, LoadsFromTheExecutablesFolderAndBindsEveryEntryPoint) {
    EXPECT_TRUE(render::LocateRenderingLibrary());
    EXPECT_EQ(fs::path(render::RenderingLibraryPath()).filename(), "libravel.so");
    ASSERT_TRUE(render::LoadRenderingLibrary());
    EXPECT_TRUE(render::LoadRenderingLibrary());  // already loaded
    const render::RavelApi &api = render::Ravel();
    for (const void *fn :
         {(const void *)api.LoadLibrary, (const void *)api.FreeLibrary, (const void *)api.OpenFile,
          (const void *)api.CloseFile, (const void *)api.Pages, (const void *)api.SetResolution,
          (const void *)api.PageExtent, (const void *)api.DIBitmap24, (const void *)api.DeleteBitmap,
          (const void *)api.RenderRegion, (const void *)api.GetPDFThumbnail, (const void *)api.Thumbnail})
        EXPECT_NE(fn, nullptr);
}

TEST(RenderingLibrary, AMissingLibraryEndsTheProgramWithTheMessage) {
    fixtures::TempDir dir;
    ProbeResult r = RunProbeIn(dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("DLL libravel.so failed to load")) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("box: Dynamic Link Error | DLL libravel.so failed to load")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("loaded\n"));
}

TEST(RenderingLibrary, OnlyTheStartUpCheckEndsTheProgramLaterCallsJustFail) {
    fixtures::TempDir dir;
    ProbeResult r = RunProbeIn(dir.path(), {"calls"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("calls: handle 0 pages 0")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("box:"));
    EXPECT_FALSE(r.err.contains("failed to load"));
}

TEST(RenderingLibrary, AnIncompleteLibraryEndsTheProgramWithTheMessage) {
    fixtures::TempDir dir;
    fs::copy_file(fs::path(FAKE_RAVEL_PATH), dir.path() / "libravel.so");
    ProbeResult r = RunProbeIn(dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("DLL libravel.so failed to load")) << r.err.toStdString();
}

TEST(RenderingLibrary, TheLibraryBesideTheProgramOrInTheCurrentFolderIsFound) {
    fixtures::TempDir beside;
    fs::copy_file(fs::path(RAVEL_PATH), beside.path() / "libravel.so");
    ProbeResult r = RunProbeIn(beside.path());
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("loaded"));

    // The program in one folder, the library only in the current folder.
    fixtures::TempDir program;
    fs::copy_file(fs::path(PROBE_PATH), program.path() / "ensure_probe");
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(beside.path().string()));
    p.start(QString::fromStdString((program.path() / "ensure_probe").string()), {});
    p.waitForFinished(30000);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

}  // namespace
