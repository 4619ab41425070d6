#include "app/command_line.h"
#include "app/orvane_app.h"
#include "platform/memory_tuning.h"
#include "platform/temp_files.h"

#include <QCoreApplication>

int main(int argc, char **argv) {
    platform::KeepLargeBlocksForReuse();
    if (app::WantsCommandLine(argc, argv)) {
        // No window, and no display needed.
        QCoreApplication core(argc, argv);
        const int code = app::RunCommandLine(argc, argv);
        platform::TempFileRegistry::Instance().DeleteAll();
        return code;
    }
    app::COrvaneApp application(argc, argv);
    if (!application.InitInstance()) {
        application.ExitInstance();
        return 0;
    }
    int code = application.Run();
    application.ExitInstance();
    return code;
}
