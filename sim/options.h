// The stand-in's command line.
#ifndef VESTRUN_SIM_OPTIONS_H
#define VESTRUN_SIM_OPTIONS_H

#include <string>
#include <vector>

#include "fault.h"
#include "machine.h"

enum { SIM_DEFAULT_PORT = 9100, SIM_GREETING_MAX = 1 << 20 };

struct SimConfig {
    std::string sHost = "127.0.0.1";
    int iPort = SIM_DEFAULT_PORT;
    bool bOnce = false;
    std::string sOutDir;      // empty: cards are not kept
    std::string sFramesPath;  // empty: no wire record
    int iWidth = 480;
    int iHeight = 512;
    SimOperator tOperator;
    int iGreeting = 0;   // bytes sent on connect
    unsigned iSeed = 1;  // for the random bytes of the garbage fault
    std::vector<SimFaultRule> tFaults;
};

// What the command line asks for.
enum SimArgs {
    SIM_ARGS_RUN,    // options good: serve
    SIM_ARGS_HELP,   // --help: usage on stdout, exit 0
    SIM_ARGS_ERROR,  // a bad option: message and usage on stderr, exit 2
};

SimArgs SimParseArgs(int a_iArgc, const char *const *a_szArgv, SimConfig *a_tConfig, std::string *a_sErr);

const char *SimUsage();

#endif
