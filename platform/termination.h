#ifndef PLATFORM_TERMINATION_H
#define PLATFORM_TERMINATION_H

namespace platform {

// Makes SIGTERM, SIGINT and SIGHUP end the event loop the ordinary way, so
// the program still saves its settings and deletes its temporary files
// when the user logs out or the terminal closes. Call once, after the
// application object exists.
void QuitOnTerminationSignals();

}  // namespace platform

#endif
