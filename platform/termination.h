#ifndef PLATFORM_TERMINATION_H
#define PLATFORM_TERMINATION_H

#include <functional>

namespace platform {

// Makes SIGTERM, SIGINT and SIGHUP end the event loop the ordinary way, so
// the program still saves its settings and deletes its temporary files
// when the user logs out or the terminal closes. `beforeQuitting`, when
// given, runs first on the event loop's thread (to keep what must not be
// lost, with no question asked). Call once the application object exists;
// a later call (a new application object) takes its place.
void QuitOnTerminationSignals(std::function<void()> beforeQuitting = {});

}  // namespace platform

#endif
