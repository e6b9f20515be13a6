// vestrun-sim: a stand-in for the card issuing machine, for tests, demos and
// for trying vestrun before the machine is at hand.
#include <cstdio>
#include <string>

#include "options.h"
#include "server.h"

int main(int argc, char **argv)
{
    SimConfig tConfig;
    std::string sErr;
    switch (SimParseArgs(argc, argv, &tConfig, &sErr)) {
    case SIM_ARGS_HELP:
        fputs(SimUsage(), stdout);
        return 0;
    case SIM_ARGS_ERROR:
        fprintf(stderr, "vestrun-sim: %s\n%s", sErr.c_str(), SimUsage());
        return 2;
    case SIM_ARGS_RUN:
        break;
    }
    return SimServe(&tConfig);
}
