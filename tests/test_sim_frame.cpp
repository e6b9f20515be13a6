// The stand-in's reading of the wire (frames, closing ACKs, stray bytes), its
// fault rules and its command line, without a socket.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fault.h"
#include "frame.h"
#include "options.h"
#include "testutil.h"

namespace {

std::vector<SimUnit> Parse(const std::string &bytes)
{
    SimFrameParser p;
    std::vector<SimUnit> units;
    SimFrameFeed(&p, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), &units);
    SimFrameFinish(&p, &units);
    return units;
}

// One unit as a short text: F(letter,check) hex / A / G<count> / B<count> / O.
std::string Show(const SimUnit &u)
{
    switch (u.eKind) {
    case SIM_UNIT_FRAME:
        return std::string("F") + (u.eCheck == SIM_FRAME_OK ? "ok" : u.eCheck == SIM_FRAME_BAD_BCC ? "bcc" : "nl") +
               "[" + vt::ToHex(u.cBytes) + "]";
    case SIM_UNIT_ACK:
        return "A";
    case SIM_UNIT_GARBAGE:
        return "G" + std::to_string(u.iCount);
    case SIM_UNIT_BROKEN:
        return "B" + std::to_string(u.iCount);
    case SIM_UNIT_OVERLONG:
        return "O";
    }
    return "?";
}

std::string ShowAll(const std::vector<SimUnit> &units)
{
    std::string s;
    for (const SimUnit &u : units) {
        s += (s.empty() ? "" : " ") + Show(u);
    }
    return s;
}

TEST(SimFrame, CutsTheStreamIntoUnits)
{
    struct Case {
        const char *wire;
        const char *units;
    };
    const Case cases[] = {
        {"02 59 03 5A", "Fok[02 59 03 5A]"},
        {"02 31 32 03 00", "Fok[02 31 32 03 00]"},  // a block check of 0x00 is a byte like any other
        {"02 59 03 5B", "Fbcc[02 59 03 5B]"},
        {"02 03 00", "Fnl[02 03 00]"},
        {"06", "A"},
        {"06 06", "A A"},
        {"41 42 02 59 03 5A 43", "G2 Fok[02 59 03 5A] G1"},
        // A frame given up on: the new STX starts over.
        {"02 4D 31 02 59 03 5A", "B3 Fok[02 59 03 5A]"},
        // Block checks equal to STX or ETX end the frame; they start nothing.
        {"02 41 40 03 02 02 59 03 5A", "Fok[02 41 40 03 02] Fok[02 59 03 5A]"},
        {"02 41 41 03 03 06", "Fok[02 41 41 03 03] A"},
        // ACK and DLE inside the parameters belong to the frame.
        {"02 41 06 10 03 54", "Fok[02 41 06 10 03 54]"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ShowAll(Parse(vt::Hex(c.wire))), c.units) << c.wire;
    }
}

TEST(SimFrame, FrameKeepsLetterAndParameters)
{
    const std::vector<SimUnit> units = Parse(vt::Hex("02 5A 34 31 32 03 6E"));
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].cLetter, 'Z');
    EXPECT_EQ(units[0].cParams, "412");
}

TEST(SimFrame, OverlongFrameIsDroppedAndTheNextFrameFound)
{
    // The largest frame taken whole: SIM_FRAME_MAX bytes with its block check.
    const std::string params(SIM_FRAME_MAX - 4, 'A');
    const std::string biggest = SimFrameBuild('A', params);
    ASSERT_EQ(biggest.size(), static_cast<size_t>(SIM_FRAME_MAX));
    EXPECT_EQ(ShowAll(Parse(biggest)).substr(0, 3), "Fok");

    // One byte more: the ETX no longer fits, the block check is a stray byte.
    const std::string over = SimFrameBuild('A', params + "A");
    EXPECT_EQ(ShowAll(Parse(over + vt::Hex("02 59 03 5A"))), "O G1 Fok[02 59 03 5A]");

    // An STX that never meets its ETX.
    std::string endless = "\x02" + std::string(100000, 'x');
    SimFrameParser p;
    std::vector<SimUnit> units;
    SimFrameFeed(&p, reinterpret_cast<const unsigned char *>(endless.data()), endless.size(), &units);
    EXPECT_LE(SimFramePending(p), static_cast<size_t>(SIM_FRAME_MAX));
    EXPECT_EQ(ShowAll(units).substr(0, 1), "O");
}

TEST(SimFrame, AnyChunkingGivesTheSameUnits)
{
    // A stream of everything the parser meets: frames good and bad, ACKs,
    // stray bytes, a broken frame.
    std::string stream;
    std::mt19937 rng(5);
    for (int i = 0; i < 60; i++) {
        switch (rng() % 5) {
        case 0:
            stream += SimFrameBuild('M', "0,0,1,0" + std::to_string(rng() % 10));
            break;
        case 1:
            stream += "\x06";
            break;
        case 2:
            stream += "zz\x15";
            break;
        case 3:
            stream += "\x02Y\x03\x01";  // bad block check
            break;
        default:
            stream += "\x02M1,";  // cut short by whatever starts next
            break;
        }
    }
    stream += SimFrameBuild('Y', "");
    // A run of stray bytes is one unit however it was cut.
    const std::string whole = ShowAll(Parse(stream));
    for (unsigned seed = 0; seed < 300; seed++) {
        std::mt19937 cut(seed);
        SimFrameParser p;
        std::vector<SimUnit> units;
        for (size_t pos = 0; pos < stream.size();) {
            const size_t n = std::min<size_t>(1 + cut() % 9, stream.size() - pos);
            SimFrameFeed(&p, reinterpret_cast<const unsigned char *>(stream.data()) + pos, n, &units);
            pos += n;
        }
        SimFrameFinish(&p, &units);
        ASSERT_EQ(ShowAll(units), whole) << "seed " << seed;
    }
}

// ---- fault rules ------------------------------------------------------------

TEST(SimFault, RulesParse)
{
    struct Case {
        const char *text;
        bool any;
        char letter;
        const char *prefix;
        int nth;
        SimFaultAction action;
        int arg;
    };
    const Case cases[] = {
        {"M:nak", false, 'M', "", 1, SIM_FAULT_NAK, 0},
        {"M#*:slow=300", false, 'M', "", SIM_EVERY, SIM_FAULT_SLOW, 300},
        {"Z010:dle", false, 'Z', "010", 1, SIM_FAULT_DLE, 0},
        {"M#2:close", false, 'M', "", 2, SIM_FAULT_CLOSE, 0},
        {"12:silence", false, '1', "2", 1, SIM_FAULT_SILENCE, 0},
        {"*:short", true, 0, "", 1, SIM_FAULT_SHORT, 0},
        {"F1:no-result", false, 'F', "1", 1, SIM_FAULT_NO_RESULT, 0},
        {"Y:short-result", false, 'Y', "", 1, SIM_FAULT_SHORT_RESULT, 0},
        // The hostile actions take every receipt unless told otherwise.
        {"Y:nak-always", false, 'Y', "", SIM_EVERY, SIM_FAULT_NAK_ALWAYS, 0},
        {"Y:garbage", false, 'Y', "", SIM_EVERY, SIM_FAULT_GARBAGE, 0},
        {"Y:oversize", false, 'Y', "", SIM_EVERY, SIM_FAULT_OVERSIZE, 0},
        {"M:split", false, 'M', "", SIM_EVERY, SIM_FAULT_SPLIT, 0},
        {"M#3:split", false, 'M', "", 3, SIM_FAULT_SPLIT, 0},
        {"_:dle", false, '_', "", 1, SIM_FAULT_DLE, 0},
        {"::dle", false, ':', "", 1, SIM_FAULT_DLE, 0},
    };
    for (const Case &c : cases) {
        SimFaultRule rule;
        std::string err;
        ASSERT_TRUE(SimFaultParse(c.text, &rule, &err)) << c.text << ": " << err;
        EXPECT_EQ(rule.bAny, c.any) << c.text;
        EXPECT_EQ(rule.cLetter, c.letter) << c.text;
        EXPECT_EQ(rule.cPrefix, c.prefix) << c.text;
        EXPECT_EQ(rule.iNth, c.nth) << c.text;
        EXPECT_EQ(rule.eAction, c.action) << c.text;
        EXPECT_EQ(rule.iArg, c.arg) << c.text;
    }
    for (const char *bad : {"", "M", ":nak", "M:", "M:bogus", "M:slow", "M:slow=", "M:slow=-1", "M:slow=600001",
                            "M:slow=1x", "M:nak=1", "M#:nak", "M#0:nak", "M#x:nak", "M#1000001:nak"}) {
        SimFaultRule rule;
        std::string err;
        EXPECT_FALSE(SimFaultParse(bad, &rule, &err)) << bad;
        EXPECT_NE(err, "") << bad;
    }
}

TEST(SimFault, ReceiptsAreCountedPerRule)
{
    std::vector<SimFaultRule> rules(3);
    std::string err;
    ASSERT_TRUE(SimFaultParse("Z#2:dle", &rules[0], &err));
    ASSERT_TRUE(SimFaultParse("Z010:nak", &rules[1], &err));
    ASSERT_TRUE(SimFaultParse("*#4:close", &rules[2], &err));
    struct Step {
        char letter;
        const char *params;
        const char *hit;  // rule text, or "" for none
    };
    const Step steps[] = {
        {'Z', "412", ""},           // Z#1, *#1
        {'Z', "010", "Z#2:dle"},    // Z#2 before Z010#1 (order of the rules)
        {'Z', "010", ""},           // Z#3; Z010 has had its first receipt
        {'Y', "", "*#4:close"},     // *#4
        {'Y', "", ""},
    };
    for (const Step &s : steps) {
        SimFaultRule *hit = SimFaultMatch(&rules, s.letter, s.params);
        EXPECT_EQ(hit ? hit->szText : "", s.hit) << s.letter << s.params;
    }
    SimFaultReset(&rules);
    SimFaultRule *hit = SimFaultMatch(&rules, 'Z', "010");
    EXPECT_EQ(hit ? hit->szText : "", "Z010:nak");
}

TEST(SimFault, HostileRepliesKeepTheirShape)
{
    const SimReply ack{0x06, std::string(20, 'r')};
    const SimReply dle{0x10, ""};
    std::mt19937 rng(1);
    // Random bytes, but never an answer code where the tool looks for one.
    for (int i = 0; i < 2000; i++) {
        const std::vector<SimStep> g = SimPlan('Y', ack, SIM_FAULT_GARBAGE, 0, &rng);
        ASSERT_EQ(g.size(), 2u);
        ASSERT_EQ(g[0].cBytes.size(), 10u);
        const char code = g[0].cBytes[9];
        ASSERT_TRUE(code != 0x06 && code != 0x10 && code != 0x15) << i;
        ASSERT_GE(g[1].cBytes.size(), 1u);
        ASSERT_LE(g[1].cBytes.size(), 256u);
    }
    // A command the machine refused has no result to hold back or bend.
    for (SimFaultAction a : {SIM_FAULT_SLOW, SIM_FAULT_NO_RESULT, SIM_FAULT_SHORT_RESULT, SIM_FAULT_OVERSIZE}) {
        const std::vector<SimStep> steps = SimPlan('9', dle, a, 100, &rng);
        ASSERT_EQ(steps.size(), 1u) << SimFaultName(a);
        EXPECT_EQ(steps[0].cBytes[9], 0x10) << SimFaultName(a);
    }
}

// ---- the command line ---------------------------------------------------------

SimParse ParseArgs(std::vector<const char *> args, SimConfig *config, std::string *err)
{
    args.insert(args.begin(), "vestrun-sim");
    return SimParseArgs(static_cast<int>(args.size()), args.data(), config, err);
}

TEST(SimOptions, ValuesAfterEqualsSignsAndRepeatedFaults)
{
    SimConfig c;
    std::string err;
    ASSERT_EQ(ParseArgs({"--listen=0.0.0.0:0", "--size", "16x8", "--fault", "M#*:slow=300", "--fault=Z010:dle"},
                        &c, &err),
              SIM_PARSE_RUN)
        << err;
    EXPECT_EQ(c.szHost, "0.0.0.0");
    EXPECT_EQ(c.iPort, 0);
    EXPECT_EQ(c.iWidth, 16);
    EXPECT_EQ(c.iHeight, 8);
    ASSERT_EQ(c.tFaults.size(), 2u);
    EXPECT_EQ(c.tFaults[1].szText, "Z010:dle");
}

TEST(SimOptions, BadValuesAreRefused)
{
    const std::vector<std::vector<const char *>> cases = {
        {"--listen", ":80"},     {"--listen", "h:"},        {"--listen", "h:-1"},   {"--listen", "h:65536"},
        {"--size", "4097x1"},    {"--size", "1x0"},         {"--size", "x"},        {"--card-after", ""},
        {"--cover-open", "1e3"}, {"--greeting", "1048577"}, {"--seed", "-4"},       {"--fault", "nope"},
        {"--frames", ""},        {"--once", "--listen"},    {"-x"},
    };
    for (const auto &args : cases) {
        SimConfig c;
        std::string err;
        EXPECT_EQ(ParseArgs(args, &c, &err), SIM_PARSE_ERROR) << args[0];
        EXPECT_NE(err, "") << args[0];
    }
}

}  // namespace
