// The stand-in: its frame reader, machine, stripe reading and card folders
// without a socket; then the real vestrun-sim under a plain socket client.
// Its fault rules and kept cards: the fault matrix and the whole runs.
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include <gtest/gtest.h>

#include "card.h"
#include "frame.h"
#include "machine.h"
#include "sample_card.h"
#include "testutil.h"

namespace {

using Lines = std::vector<std::string>;

// The units of a stream fed in pieces of 1 to 9 bytes drawn from `seed` (whole
// when it is 0), as text: F<check>[hex] / A / G<count> / B<count> / O.
std::string Units(const std::string &bytes, unsigned seed = 0)
{
    std::mt19937 cut(seed);
    static const char *const kCheck[] = {"ok", "bcc", "nl"};
    SimFrameParser p;
    std::vector<SimUnit> units;
    for (size_t pos = 0, n = 0; pos < bytes.size(); pos += n) {
        n = seed ? std::min<size_t>(1 + cut() % 9, bytes.size() - pos) : bytes.size();
        SimFrameFeed(&p, reinterpret_cast<const unsigned char *>(bytes.data()) + pos, n, &units);
        EXPECT_LE(SimFramePending(p), static_cast<size_t>(SIM_FRAME_MAX));
    }
    SimFrameFinish(&p, &units);
    std::string s;
    for (const SimUnit &u : units) {
        s += (s.empty() ? "" : " ") + std::string(1, "FAGBO"[u.eKind]);
        if (u.eKind == SIM_UNIT_FRAME) s += kCheck[u.eCheck] + ("[" + vt::ToHex(u.cBytes) + "]");
        if (u.eKind == SIM_UNIT_GARBAGE || u.eKind == SIM_UNIT_BROKEN) s += std::to_string(u.iCount);
    }
    return s;
}

TEST(SimFrame, CutsTheStreamIntoUnitsHoweverItArrives)
{
    const std::string params(SIM_FRAME_MAX - 4, 'A');  // the largest frame taken whole
    const std::string cases[][2] = {
        {vt::Hex("02 59 03 5A"), "Fok[02 59 03 5A]"},
        {vt::Hex("02 31 32 03 00"), "Fok[02 31 32 03 00]"},  // a block check of 0x00 is a byte like any other
        {vt::Hex("02 59 03 5B"), "Fbcc[02 59 03 5B]"},
        {vt::Hex("02 03 00"), "Fnl[02 03 00]"},
        {vt::Hex("06 06"), "A A"},
        {vt::Hex("41 42 02 59 03 5A 43"), "G2 Fok[02 59 03 5A] G1"},
        {vt::Hex("02 4D 31 02 59 03 5A"), "B3 Fok[02 59 03 5A]"},  // given up on: a new STX starts over
        // Block checks equal to STX or ETX end the frame; they start nothing.
        {vt::Hex("02 41 40 03 02 02 59 03 5A"), "Fok[02 41 40 03 02] Fok[02 59 03 5A]"},
        {vt::Hex("02 41 41 03 03 06"), "Fok[02 41 41 03 03] A"},
        {vt::Hex("02 41 06 10 03 54"), "Fok[02 41 06 10 03 54]"},  // ACK and DLE inside belong to the frame
        // One byte over the largest frame: dropped, its block check a stray byte.
        {SimFrameBuild('A', params + "A") + vt::Hex("02 59 03 5A"), "O G1 Fok[02 59 03 5A]"},
        {"\x02" + std::string(100000, 'x'), "O G95905"},  // held to SIM_FRAME_MAX meanwhile
    };
    for (const auto &c : cases)
        for (unsigned seed = 0; seed <= 20; seed++)
            EXPECT_EQ(Units(c[0], seed), c[1]) << vt::ToHex(c[0].substr(0, 12)) << ", seed " << seed;
    EXPECT_EQ(Units(SimFrameBuild('A', params)).substr(0, 3), "Fok");
}

// Frames in order, each accepted; the last refused with DLE when `inked` is
// "DLE", else the inked bytes of the buffer after it ("column,byte-row=hex").
TEST(SimMachineState, ImageFramesLandInPlaceAndWhatCannotBeDoneIsRefused)
{
    const std::string rec = "9" + std::string(SIM_RECORD_LEN, ' ');
    const struct {
        int card_after;
        Lines frames;
        std::string inked;
    } cases[] = {
        // Byte-row 3 of column 5 is 0x81 (pixel rows 24 and 31): hex text runs low nibble first.
        {0, {"M5,3,2,18000000"}, "5,3=81"},
        {0, {"M100,7,1,0001"}, "101,7=10"},
        {0, {"M0,0,1,af"}, "0,0=FA"},
        {0, {"C2,0,1000"}, "2,0=01"},                        // a whole column from the top
        {0, {"M479,63,1,08"}, "479,63=80"},                  // the corner of the 480 x 512 buffer
        {0, {"M0,0,2,F0F0", "M0,0,1,10"}, "0,0=01 0,1=0F"},  // a later frame overwrites only its bytes
        {0, {"M5,3,2,18000000", "I"}, ""},                   // the clear of all buffers,
        {0, {"M5,3,2,18000000", "@"}, ""},                   // of the picture
        {0, {"M5,3,2,18000000", "_"}, ""},                   // and the reset empty it
        {0, {"Q"}, "DLE"},
        {0, {"Z999"}, "DLE"},
        {0, {rec.substr(1)}, "DLE"},   // record one byte short
        {5, {rec, "12"}, "DLE"},       // no card to write
        {0, {"12"}, "DLE"},            // a card, but no record
        {0, {rec, "I", "12"}, "DLE"},  // the record cleared with all buffers
        {5, {"G1"}, "DLE"},            // no card to put out
        {0, {"G1", "F1"}, "DLE"},      // the card has gone out already
        {0, {"M480,0,1,00"}, "DLE"},   // right of the buffer
        {0, {"M0,64,1,00"}, "DLE"},    // below it
        {0, {"M0,0,1,0"}, "DLE"},      // odd hex text
        {0, {"M0,0,2,00"}, "DLE"},     // fewer bytes than the columns need
        {0, {"M0 ,0,1,00"}, "DLE"},    // a blank in a number
        {0, {"C0,00"}, "DLE"},         // a column without its byte-row
    };
    for (const auto &c : cases) {
        SimMachine m;
        SimMachineInit(&m, 480, 512, SimOperator{c.card_after, 0, 0});
        std::string inked;
        for (size_t i = 0; i < c.frames.size(); i++) {
            const SimOutcome out = SimMachineAnswer(&m, c.frames[i][0], c.frames[i].substr(1));
            const bool refused = c.inked == "DLE" && i + 1 == c.frames.size();
            EXPECT_EQ(out.tReply.cCode, refused ? 0x10 : 0x06) << c.frames[i];
            EXPECT_EQ(out.tReply.cResult.size(), refused ? 0u : 20u) << c.frames[i];
            EXPECT_EQ(out.bCardOut, !refused && c.frames[i] == "G1") << c.frames[i];
        }
        for (size_t i = 0; i < m.cPicture.size(); i++)
            if (m.cPicture[i])
                inked += (inked.empty() ? "" : " ") + std::to_string(i / m.iByteRows) + "," +
                         std::to_string(i % m.iByteRows) + "=" + vt::ToHex(std::string(1, m.cPicture[i]));
        EXPECT_EQ(inked, c.inked == "DLE" ? "" : c.inked) << c.frames[0];
    }
}

// The stripe's fields as the machine hears them: "number|kana|birth|sex|kanji|first|problem".
// (A good stripe, voiced kana and JIS kanji read back: the whole runs.)
TEST(SimStripeReading, FieldsComeBackAsTextAndBrokenLayoutsAreNamed)
{
    const std::string cases[][2] = {
        {sample::Stripe().Bytes().replace(43, 1, " "),
         u8"12345|ヤマダ タロウ|19700101|1|山田太郎|20240401|no ESC K before the kanji name"},
        {sample::Stripe().Bytes().replace(10, 1, " "),
         u8"12345|TO@^ タロウ|19700101|1|山田太郎|20240401|the kana name does not open with SO"},
    };
    SimStripe s;
    for (const auto &c : cases) {
        ASSERT_TRUE(SimDecodeStripe(c[0], &s));
        EXPECT_EQ(s.sNumber + "|" + s.sKana + "|" + s.sBirth + "|" + s.sSex + "|" + s.sKanji + "|" + s.sFirst + "|" +
                      s.sProblem,
                  c[1]);
    }
    EXPECT_FALSE(SimDecodeStripe(std::string(SIM_RECORD_LEN - 1, ' '), &s));
}

TEST(SimCardFolder, NumbersFollowTheHighestCardFolder)
{
    vt::TempDir dir;
    EXPECT_EQ(SimNextCardNumber(dir.file("missing")), 1);
    for (const char *name : {"card-0003", "card-0010", "card-abcd", "card-12", "card-0099x", "other-0500"})
        ASSERT_EQ(mkdir(dir.file(name).c_str(), 0777), 0);
    EXPECT_EQ(SimNextCardNumber(dir.path()), 11);
}

// `bytes` sent by a client of its own, which reads until 30 bytes came or
// none came for 300 ms: the reply's code and length.
std::string Reply(int port, const std::string &bytes)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    std::string got;
    char buf[64];
    pollfd p = {fd, POLLIN, 0};
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    for (ssize_t r = 0; got.size() < 30 && poll(&p, 1, 300) > 0 && (r = recv(fd, buf, sizeof buf, 0)) > 0;)
        got.append(buf, static_cast<size_t>(r));
    close(fd);
    return (got.size() > 9 ? vt::ToHex(got.substr(9, 1)) : "--") + " " + std::to_string(got.size());
}

// What only the server shows: a client gone in the middle of a frame or
// before its reply is confirmed leaves it serving the next, a wrong block
// check gets NAK alone, and SIGTERM ends it with 0. (Frames in pieces and
// oversize: the reader's table.)
TEST(SimWire, AnswersCodesAndOutlivesClientsThatVanish)
{
    vt::Child sim;
    const int port = vt::StartSim(&sim, {});
    ASSERT_GT(port, 0) << sim.Err();
    EXPECT_EQ(Reply(port, "\x02M0,0,1,"), "-- 0");
    EXPECT_EQ(Reply(port, vt::Hex("02 59 03 5B")), "15 10");
    EXPECT_EQ(Reply(port, sample::Frame("Y")), "06 30");
    EXPECT_EQ(Reply(port, sample::Frame("Y")), "06 30");
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(10000), 0);
}

// Bad options and malformed fault rules end with status 2 and the usage.
TEST(SimWire, BadOptionsEndWithStatus2AndTheUsage)
{
    const char *bad_rules[] = {"M", ":nak", "M:bogus", "Y:slow", "Y:slow=600001", "Y:nak=5", "M#0:nak", "M#x:nak"};
    std::vector<Lines> cases = {{"--help"}, {"--listen", "127.0.0.1"}, {"--bogus"}};
    for (const char *rule : bad_rules) cases.push_back({"--fault", rule});
    for (const Lines &args : cases) {
        vt::Child sim;
        ASSERT_TRUE(sim.Start(VESTRUN_SIM_BIN, args));
        const bool help = args[0] == "--help";
        EXPECT_EQ(sim.Wait(10000), help ? 0 : 2) << args.back();
        EXPECT_NE((help ? sim.Out() : sim.Err()).find("usage: vestrun-sim"), std::string::npos) << args.back();
    }
}

}  // namespace
