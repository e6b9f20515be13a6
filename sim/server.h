// The stand-in on the network: one listening socket, one connection at a
// time, one thread, everything driven by poll.
#ifndef VESTRUN_SIM_SERVER_H
#define VESTRUN_SIM_SERVER_H

#include "options.h"

// Serves until SIGINT or SIGTERM (or, with --once, until the first connection
// ends). Returns the exit status: 0 after a clean end, 1 when the listening
// socket, the wire record or the card folder cannot be set up.
int SimServe(SimConfig *a_tConfig);

#endif
