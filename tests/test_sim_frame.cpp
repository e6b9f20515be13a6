// The stand-in's reading of the wire (frames, closing ACKs, stray bytes), its
// fault rules and the replies they shape, and its command line, without a socket.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fault.h"
#include "frame.h"
#include "options.h"
#include "testutil.h"

namespace {

// The units of a stream, fed in pieces of 1 + cut() % 9 bytes (whole when cut
// is null), as text: F<check>[hex] / A / G<count> / B<count> / O.
std::string Units(const std::string &bytes, std::mt19937 *cut = nullptr)
{
    SimFrameParser p;
    std::vector<SimUnit> units;
    for (size_t pos = 0; pos < bytes.size();) {
        const size_t n = cut ? std::min<size_t>(1 + (*cut)() % 9, bytes.size() - pos) : bytes.size();
        SimFrameFeed(&p, reinterpret_cast<const unsigned char *>(bytes.data()) + pos, n, &units);
        EXPECT_LE(SimFramePending(p), static_cast<size_t>(SIM_FRAME_MAX));
        pos += n;
    }
    SimFrameFinish(&p, &units);
    std::string s;
    for (const SimUnit &u : units) {
        s += (s.empty() ? "" : " ") + std::string(1, "FAGBO"[u.eKind]);
        if (u.eKind == SIM_UNIT_FRAME) {
            s += std::string(u.eCheck == SIM_FRAME_OK ? "ok" : u.eCheck == SIM_FRAME_BAD_BCC ? "bcc" : "nl") + "[" +
                 vt::ToHex(u.cBytes) + "]";
        } else if (u.eKind != SIM_UNIT_ACK && u.eKind != SIM_UNIT_OVERLONG) {
            s += std::to_string(u.iCount);
        }
    }
    return s;
}

TEST(SimFrame, CutsTheStreamIntoUnits)
{
    const std::string params(SIM_FRAME_MAX - 4, 'A');  // the largest frame taken whole
    const struct {
        std::string wire;
        std::string units;
    } cases[] = {
        {vt::Hex("02 59 03 5A"), "Fok[02 59 03 5A]"},
        {vt::Hex("02 31 32 03 00"), "Fok[02 31 32 03 00]"},  // a block check of 0x00 is a byte like any other
        {vt::Hex("02 59 03 5B"), "Fbcc[02 59 03 5B]"},
        {vt::Hex("02 03 00"), "Fnl[02 03 00]"},
        {vt::Hex("06 06"), "A A"},
        {vt::Hex("41 42 02 59 03 5A 43"), "G2 Fok[02 59 03 5A] G1"},
        // A frame given up on: the new STX starts over.
        {vt::Hex("02 4D 31 02 59 03 5A"), "B3 Fok[02 59 03 5A]"},
        // Block checks equal to STX or ETX end the frame; they start nothing.
        {vt::Hex("02 41 40 03 02 02 59 03 5A"), "Fok[02 41 40 03 02] Fok[02 59 03 5A]"},
        {vt::Hex("02 41 41 03 03 06"), "Fok[02 41 41 03 03] A"},
        // ACK and DLE inside the parameters belong to the frame.
        {vt::Hex("02 41 06 10 03 54"), "Fok[02 41 06 10 03 54]"},
        // One byte over the largest frame: dropped, its block check a stray byte.
        {SimFrameBuild('A', params + "A") + vt::Hex("02 59 03 5A"), "O G1 Fok[02 59 03 5A]"},
        {"\x02" + std::string(100000, 'x'), "O G95905"},  // held to SIM_FRAME_MAX meanwhile
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Units(c.wire), c.units) << vt::ToHex(c.wire.substr(0, 12));
    }
    EXPECT_EQ(Units(SimFrameBuild('A', params)).substr(0, 3), "Fok");
}

TEST(SimFrame, AnyChunkingGivesTheSameUnits)
{
    // Frames good and bad, ACKs, stray bytes, broken frames.
    const std::string pieces[] = {SimFrameBuild('M', "0,0,1,07"), "\x06", "zz\x15", "\x02Y\x03\x01", "\x02M1,"};
    std::string stream;
    std::mt19937 rng(5);
    for (int i = 0; i < 60; i++) {
        stream += pieces[rng() % 5];
    }
    stream += SimFrameBuild('Y', "");
    const std::string whole = Units(stream);
    for (unsigned seed = 0; seed < 300; seed++) {
        std::mt19937 cut(seed);
        ASSERT_EQ(Units(stream, &cut), whole) << "seed " << seed;
    }
}

// ---- fault rules ------------------------------------------------------------

// Without "#" a rule takes the first matching receipt, a hostile one every
// receipt; receipts are counted per rule, in the order the rules were given.
TEST(SimFault, ReceiptsAreCountedPerRuleAndEachConnectionStartsAgain)
{
    std::vector<SimFaultRule> rules;
    for (const char *text : {"Z#2:dle", "Z010:nak", "*#5:close", "Y:garbage", "1:short"}) {
        SimFaultRule r;
        std::string err;
        ASSERT_TRUE(SimFaultParse(text, &r, &err)) << text << ": " << err;
        rules.push_back(r);
    }
    const struct {
        char letter;
        const char *params;
        const char *hit;
    } steps[] = {
        {'Z', "412", ""},
        {'Z', "010", "Z#2:dle"},  // Z#2 before Z010#1
        {'Z', "010", ""},         // Z010 has had its first receipt
        {'Y', "", "Y:garbage"},
        {'Y', "", "*#5:close"},
        {'Y', "", "Y:garbage"},
        {'1', "2", "1:short"},
        {'1', "2", ""},
    };
    for (const auto &s : steps) {
        SimFaultRule *hit = SimFaultMatch(&rules, s.letter, s.params);
        EXPECT_EQ(hit ? hit->sText : "", s.hit) << s.letter << s.params;
    }
    SimFaultReset(&rules);
    SimFaultRule *hit = SimFaultMatch(&rules, 'Z', "010");
    EXPECT_EQ(hit ? hit->sText : "", "Z010:nak");
}

// Steps as text: "close", a 10-byte first reply by its code, any other piece
// by its length; "@ms" when it is held back.
std::string Shape(const std::vector<SimStep> &steps)
{
    std::string s;
    for (const SimStep &st : steps) {
        s += s.empty() ? "" : " ";
        if (st.bClose) {
            s += "close";
            continue;
        }
        const char code = st.cBytes.size() == 10 ? st.cBytes[9] : 0;
        s += code == 0x06 ? "ACK" : code == 0x15 ? "NAK" : code == 0x10 ? "DLE" : std::to_string(st.cBytes.size());
        s += st.iDelayMs ? "@" + std::to_string(st.iDelayMs) : "";
    }
    return s;
}

TEST(SimFault, EachFaultShapesTheReply)
{
    const SimReply ack{0x06, std::string(20, 'r')};
    const SimReply dle{0x10, ""};
    std::mt19937 rng(1);
    const struct {
        const char *action;  // "": no fault
        const char *accepted;  // the reply to a command the machine took
        const char *refused;   // and to one it refused with DLE
    } cases[] = {
        {"", "ACK 20", "DLE"},
        {"nak", "NAK", "NAK"},
        {"nak-always", "NAK", "NAK"},
        {"dle", "DLE", "DLE"},
        {"silence", "", ""},
        {"short", "1", "1"},
        {"close", "close", "close"},
        // A refused command has no result to hold back or bend.
        {"no-result", "ACK", "DLE"},
        {"slow", "ACK 20@300", "DLE"},
        {"short-result", "ACK 8", "DLE"},
        {"oversize", "ACK 1000", "DLE"},
        // Late holds back the whole answer, whatever its code.
        {"late", "ACK@300 20@300", "DLE@300"},
    };
    for (const auto &c : cases) {
        const SimFault *f = SimFaultFind(c.action);
        ASSERT_TRUE(f != nullptr || !*c.action) << c.action;
        EXPECT_EQ(Shape(SimPlan('Y', ack, f, 300, &rng)), c.accepted) << c.action;
        EXPECT_EQ(Shape(SimPlan('Y', dle, f, 300, &rng)), c.refused) << c.action;
    }
    // Only a late answer outlives the next frame.
    for (const std::string a : {"", "slow", "split", "late"}) {
        for (const SimStep &st : SimPlan('Y', ack, SimFaultFind(a), 300, &rng)) {
            EXPECT_EQ(st.bKept, a == "late") << a;
        }
    }
    EXPECT_EQ(SimPlan('Y', ack, SimFaultFind("short"), 0, &rng)[0].cBytes, "\x06");
    EXPECT_EQ(SimPlan('Y', ack, SimFaultFind("oversize"), 0, &rng)[1].cBytes.substr(0, 20), ack.cResult);

    // Split: the same bytes, one at a time, a few ms apart.
    const std::vector<SimStep> split = SimPlan('Y', ack, SimFaultFind("split"), 0, &rng);
    std::string joined;
    for (size_t i = 0; i < split.size(); i++) {
        ASSERT_EQ(split[i].cBytes.size(), 1u);
        EXPECT_EQ(split[i].iDelayMs, static_cast<int>(i) * SIM_SPLIT_GAP_MS);
        joined += split[i].cBytes;
    }
    EXPECT_EQ(joined, SimFirstReply('Y', 0x06) + ack.cResult);

    // Garbage: random bytes, but never an answer code where the tool looks for one.
    for (int i = 0; i < 2000; i++) {
        const std::vector<SimStep> g = SimPlan('Y', ack, SimFaultFind("garbage"), 0, &rng);
        ASSERT_EQ(g.size(), 2u);
        ASSERT_EQ(g[0].cBytes.size(), 10u);
        const char code = g[0].cBytes[9];
        ASSERT_TRUE(code != 0x06 && code != 0x10 && code != 0x15) << i;
        ASSERT_TRUE(!g[1].cBytes.empty() && g[1].cBytes.size() <= 256u) << i;
    }
}

// Which receipts a rule takes when it names none: the first, or, for the
// hostile actions and a late machine, every one.
TEST(SimFault, DefaultReceiptsOfEachAction)
{
    const struct {
        const char *text;
        int nth;
        int arg;
    } cases[] = {
        {"Y:nak", 1, 0},         {"Y:slow=5", 1, 5},        {"Y:nak-always", SIM_EVERY, 0},
        {"Y:split", SIM_EVERY, 0}, {"Y:late=1500", SIM_EVERY, 1500}, {"Y#2:late=4500", 2, 4500},
        {"M#*:late=0", SIM_EVERY, 0},
    };
    for (const auto &c : cases) {
        SimFaultRule r;
        std::string err;
        ASSERT_TRUE(SimFaultParse(c.text, &r, &err)) << c.text << ": " << err;
        EXPECT_EQ(r.iNth, c.nth) << c.text;
        EXPECT_EQ(r.iArg, c.arg) << c.text;
    }
}

// ---- the command line ---------------------------------------------------------

SimArgs ParseArgs(std::vector<const char *> args, SimConfig *config, std::string *err)
{
    args.insert(args.begin(), "vestrun-sim");
    return SimParseArgs(static_cast<int>(args.size()), args.data(), config, err);
}

TEST(SimOptions, ValuesAfterEqualsSignsRepeatedFaultsAndRefusals)
{
    SimConfig c;
    std::string err;
    ASSERT_EQ(ParseArgs({"--listen=0.0.0.0:0", "--size", "16x8", "--card-after", "3", "--fault", "M#*:slow=300",
                         "--fault=Z010:dle"},
                        &c, &err),
              SIM_ARGS_RUN)
        << err;
    EXPECT_EQ(c.sHost + ":" + std::to_string(c.iPort), "0.0.0.0:0");
    EXPECT_EQ(std::to_string(c.iWidth) + "x" + std::to_string(c.iHeight), "16x8");
    EXPECT_EQ(c.tOperator.iCardAfter, 3);
    ASSERT_EQ(c.tFaults.size(), 2u);
    EXPECT_EQ(c.tFaults[0].iArg, 300);
    EXPECT_EQ(c.tFaults[1].sText, "Z010:dle");

    std::vector<std::vector<const char *>> bad = {
        {"--listen", ":80"}, {"--listen", "h:65536"}, {"--size", "4097x1"},     {"--size", "1x0"},
        {"--card-after", ""}, {"--cover-open", "1e3"}, {"--greeting", "1048577"}, {"--seed", "-4"},
        {"--once", "--listen"}, {"-x"},
    };
    for (const char *rule : {"", "M", ":nak", "M:", "M:bogus", "M:slow", "M:slow=-1", "M:slow=600001", "M:slow=1x",
                             "M:nak=1", "M#:nak", "M#0:nak", "M#1000001:nak", "Y:late", "Y:late=600001"}) {
        bad.push_back({"--fault", rule});
    }
    for (const auto &args : bad) {
        SimConfig c2;
        err.clear();
        EXPECT_EQ(ParseArgs(args, &c2, &err), SIM_ARGS_ERROR) << args[0] << " " << args.back();
        EXPECT_NE(err, "") << args[0] << " " << args.back();
    }
}

}  // namespace
