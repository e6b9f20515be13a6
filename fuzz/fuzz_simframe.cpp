// The stand-in's side of the wire under arbitrary bytes: the frame parser fed
// in pieces, and every frame it finds carried out by the machine (picture
// buffer, stripe, character set, card output) under a set of fault rules.
// The first input byte chooses how the rest is cut into reads.
#include <random>
#include <string>
#include <vector>

#include "card.h"
#include "fault.h"
#include "frame.h"
#include "fuzz.h"
#include "log.h"
#include "machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 64 * 1024) return 0;
    SimLogQuiet(true);
    std::vector<SimFaultRule> rules;
    std::string err;
    for (const char *text : {"M#3:split", "Y#2:slow=5", "9:nak", "*#7:oversize", "Z010:garbage"})
        fz::Check(SimFaultParse(text, &rules.emplace_back(), &err), "a fault rule of the harness refused");
    SimMachine machine;
    SimMachineInit(&machine, 64 + data[0] % 64, 40 + data[0] % 24, SimOperator{data[0] % 3, 0, (data[0] >> 2) % 2});
    std::mt19937 rng(data[0]);
    SimFrameParser parser;
    std::vector<SimUnit> units;
    for (size_t pos = 1, chunk = 1 + data[0] % 17; pos < size; pos += chunk) {
        units.clear();
        SimFrameFeed(&parser, data + pos, std::min(chunk, size - pos), &units);
        fz::Check(SimFramePending(parser) <= SIM_FRAME_MAX, "the parser holds more than a frame");
        for (const SimUnit &u : units) {
            if (u.eKind != SIM_UNIT_FRAME || u.eCheck != SIM_FRAME_OK) continue;
            (void)SimDescribe(u.cLetter, u.cParams);
            SimFaultRule *rule = SimFaultMatch(&rules, u.cLetter, u.cParams);
            const SimFault *fault = rule ? rule->tFault : nullptr;
            SimReply reply;
            if (SimFaultExecutes(fault)) {
                const SimOutcome out = SimMachineAnswer(&machine, u.cLetter, u.cParams);
                reply = out.tReply;
                if (out.bCardOut) (void)(SimCardText(out.tCard) + SimCharsetText(out.tCard.cCharset));
                fz::Check(reply.cCode != 0x06 || reply.cResult.size() == SIM_STATUS_LEN,
                          "an accepted command answered without a whole status");
            }
            for (const SimStep &s : SimPlan(u.cLetter, reply, fault, rule ? rule->iArg : 0, &rng))
                fz::Check(s.cBytes.size() <= 1000, "a reply piece over 1000 bytes");
        }
    }
    SimFrameFinish(&parser, &units);
    return 0;
}
