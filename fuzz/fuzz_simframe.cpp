// The stand-in's side of the wire under arbitrary bytes: the frame parser fed
// in pieces, and every frame it finds carried out by the machine (picture
// buffer, stripe, character set, card output) under a set of fault rules.
// The first input byte chooses how the rest is cut into reads.
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "card.h"
#include "fault.h"
#include "frame.h"
#include "log.h"
#include "machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 64 * 1024) return 0;
    SimLogQuiet(true);
    static std::vector<SimFaultRule> rules = [] {
        std::vector<SimFaultRule> r(5);
        const char *texts[] = {"M#3:split", "Y#2:slow=5", "9:nak", "*#7:oversize", "Z010:garbage"};
        std::string err;
        for (size_t i = 0; i < r.size(); i++) {
            if (!SimFaultParse(texts[i], &r[i], &err)) __builtin_trap();
        }
        return r;
    }();
    SimFaultReset(&rules);

    SimOperator op;
    op.iCardAfter = data[0] % 3;
    op.iCoverOpen = (data[0] >> 2) % 2;
    SimMachine machine;
    SimMachineInit(&machine, 64 + data[0] % 64, 40 + data[0] % 24, op);
    std::mt19937 rng(data[0]);

    SimFrameParser parser;
    const size_t chunk = 1 + data[0] % 17;
    for (size_t pos = 1; pos < size; pos += chunk) {
        const size_t n = std::min(chunk, size - pos);
        std::vector<SimUnit> units;
        SimFrameFeed(&parser, data + pos, n, &units);
        if (SimFramePending(parser) > SIM_FRAME_MAX) __builtin_trap();  // the parser must stay bounded
        for (const SimUnit &u : units) {
            if (u.eKind != SIM_UNIT_FRAME || u.eCheck != SIM_FRAME_OK) continue;
            (void)SimDescribe(u.cLetter, u.cParams);
            SimFaultRule *rule = SimFaultMatch(&rules, u.cLetter, u.cParams);
            const SimFault *fault = rule ? rule->tFault : nullptr;
            SimReply reply;
            if (SimFaultExecutes(fault)) {
                SimOutcome out = SimMachineAnswer(&machine, u.cLetter, u.cParams);
                reply = out.tReply;
                if (out.bCardOut) {
                    (void)SimCardText(out.tCard);
                    (void)SimCharsetText(out.tCard.cCharset);
                }
                // Every accepted command is answered with a whole status.
                if (reply.cCode == 0x06 && reply.cResult.size() != SIM_STATUS_LEN) __builtin_trap();
            }
            const std::vector<SimStep> steps = SimPlan(u.cLetter, reply, fault, rule ? rule->iArg : 0, &rng);
            for (const SimStep &s : steps) {
                if (s.cBytes.size() > 1000) __builtin_trap();
            }
        }
    }
    std::vector<SimUnit> last;
    SimFrameFinish(&parser, &last);
    return 0;
}
