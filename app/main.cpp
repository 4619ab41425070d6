#include "app/orvane_app.h"
#include "platform/memory_tuning.h"

int main(int argc, char **argv) {
    platform::KeepLargeBlocksForReuse();
    app::COrvaneApp application(argc, argv);
    if (!application.InitInstance()) {
        application.ExitInstance();
        return 0;
    }
    int code = application.Run();
    application.ExitInstance();
    return code;
}
