#ifndef APP_COMMAND_LINE_H
#define APP_COMMAND_LINE_H

namespace app {

// Whether the arguments ask for the command line rather than the window
// (--auto-crop, --crop, --help); no display is needed then.
bool WantsCommandLine(int argc, char **argv);

// orvane --auto-crop IN.pdf -o OUT.pdf [--uniform] [--margin PTS]
//        [--pages RANGE]
// orvane --crop IN.pdf -o OUT.pdf --margins L,T,R,B[pt|mm|in] [--pages RANGE]
// Runs without a window or a display; returns the exit code. Needs a
// QCoreApplication.
int RunCommandLine(int argc, char **argv);

}  // namespace app

#endif
