#include "app/orvane_app.h"

int main(int argc, char **argv) {
    app::COrvaneApp application(argc, argv);
    if (!application.InitInstance()) {
        application.ExitInstance();
        return 0;
    }
    int code = application.Run();
    application.ExitInstance();
    return code;
}
