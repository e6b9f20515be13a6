// The stand-in: its frame reader, fault rules, machine, stripe reading and
// kept card without a socket; then the real vestrun-sim driven by a plain
// socket client (what only the server does).
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card.h"
#include "fault.h"
#include "frame.h"
#include "machine.h"
#include "sample_card.h"
#include "simproc.h"
#include "stripe.h"
#include "testutil.h"

namespace {

using Lines = std::vector<std::string>;

// The units of a stream fed in pieces of 1 + cut() % 9 bytes (whole when cut
// is null), as text: F<check>[hex] / A / G<count> / B<count> / O.
std::string Units(const std::string &bytes, std::mt19937 *cut = nullptr)
{
    static const char *const kCheck[] = {"ok", "bcc", "nl"};
    SimFrameParser p;
    std::vector<SimUnit> units;
    for (size_t pos = 0, n = 0; pos < bytes.size(); pos += n) {
        n = cut ? std::min<size_t>(1 + (*cut)() % 9, bytes.size() - pos) : bytes.size();
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
    const struct {
        std::string wire, units;
    } cases[] = {
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
    for (const auto &c : cases) {
        EXPECT_EQ(Units(c.wire), c.units) << vt::ToHex(c.wire.substr(0, 12));
        for (unsigned seed = 0; seed < 20; seed++) {
            std::mt19937 cut(seed);
            EXPECT_EQ(Units(c.wire, &cut), c.units) << "seed " << seed;
        }
    }
    EXPECT_EQ(Units(SimFrameBuild('A', params)).substr(0, 3), "Fok");
}

// Each rule as the frames it takes: a text per receipt of the letters given.
TEST(SimFault, RulesPickTheirReceiptsFirstRuleWins)
{
    const struct {
        Lines rules;
        std::string frames, picked;  // picked: the action per frame, "-" for none
    } cases[] = {
        {{"M#2:dle", "M:split"}, "MMM", "split dle split"},  // every rule counts every receipt
        {{"Z010:nak"}, "ZzZ", "- nak -"},                    // z: Z with 010, Z: Z with 412
        {{"Y:nak"}, "YY", "nak -"},                          // without #: the first receipt only
        {{"Y:garbage"}, "YY", "garbage garbage"},            // ... but every one for the hostile actions
        {{"*#*:late=1500", "Y:nak"}, "YM", "late late"},
        {{"9#3:close"}, "999", "- - close"},
    };
    for (const auto &c : cases) {
        std::vector<SimFaultRule> rules(c.rules.size());
        std::string err, picked;
        for (size_t i = 0; i < rules.size(); i++) ASSERT_TRUE(SimFaultParse(c.rules[i], &rules[i], &err)) << err;
        for (char f : c.frames) {
            const SimFaultRule *r = SimFaultMatch(&rules, f == 'z' ? 'Z' : f, f == 'Z' ? "412" : f == 'z' ? "010" : "");
            picked += (picked.empty() ? "" : " ") + std::string(r ? SimFaultName(r->tFault) : "-");
        }
        EXPECT_EQ(picked, c.picked) << c.rules[0];
    }
    for (const char *bad : {"M", ":nak", "M:bogus", "Y:slow", "Y:slow=600001", "Y:nak=5", "M#0:nak", "M#x:nak"}) {
        SimFaultRule r;
        std::string err;
        EXPECT_FALSE(SimFaultParse(bad, &r, &err)) << bad;
        EXPECT_NE(err, "") << bad;
    }
}

// The inked bytes of the buffer: "column,byte-row=hex" each.
std::string Inked(const SimMachine &m)
{
    std::string s;
    for (size_t i = 0; i < m.cPicture.size(); i++)
        if (m.cPicture[i])
            s += (s.empty() ? "" : " ") + std::to_string(i / m.iByteRows) + "," + std::to_string(i % m.iByteRows) +
                 "=" + vt::ToHex(std::string(1, static_cast<char>(m.cPicture[i])));
    return s;
}

// Frames in order, each accepted except the last, which is refused when
// `inked` is "DLE"; else the buffer after the last.
TEST(SimMachineState, ImageFramesLandInPlaceAndWhatCannotBeDoneIsRefused)
{
    const std::string rec = "9" + std::string(SIM_RECORD_LEN, ' ');
    const struct {
        int card_after;
        Lines frames;
        const char *inked;
    } cases[] = {
        // Byte-row 3 of column 5 is 0x81 (pixel rows 24 and 31): hex text runs low nibble first.
        {0, {"M5,3,2,18000000"}, "5,3=81"},
        {0, {"M100,7,1,0001"}, "101,7=10"},
        {0, {"M0,0,1,af"}, "0,0=FA"},
        {0, {"C2,0,1000"}, "2,0=01"},                        // a "C" frame carries a whole column from the top
        {0, {"M479,63,1,08"}, "479,63=80"},                  // the corner of the 480 x 512 buffer
        {0, {"M0,0,2,F0F0", "M0,0,1,10"}, "0,0=01 0,1=0F"},  // a later frame overwrites only its bytes
        // The clear of all buffers, the clear of the picture and the reset empty it.
        {0, {"M5,3,2,18000000", "I"}, ""},
        {0, {"M5,3,2,18000000", "@"}, ""},
        {0, {"M5,3,2,18000000", "_"}, ""},
        {0, {"Q"}, "DLE"},             // unknown letter
        {0, {"Z999"}, "DLE"},          // unknown LED pattern
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
        {0, {"C0,00"}, "DLE"},
    };
    for (const auto &c : cases) {
        SimOperator op;
        op.iCardAfter = c.card_after;
        SimMachine m;
        SimMachineInit(&m, 480, 512, op);
        const bool refused = std::string(c.inked) == "DLE";
        for (size_t i = 0; i < c.frames.size(); i++) {
            const std::string &f = c.frames[i];
            const SimOutcome out = SimMachineAnswer(&m, f[0], f.substr(1));
            const bool last_refused = refused && i + 1 == c.frames.size();
            EXPECT_EQ(out.tReply.cCode, last_refused ? 0x10 : 0x06) << f;
            EXPECT_EQ(out.tReply.cResult.size(), last_refused ? 0u : 20u) << f;
            EXPECT_FALSE(last_refused && out.bCardOut) << f;
        }
        EXPECT_EQ(Inked(m), refused ? "" : c.inked) << c.frames[0];
    }
}

// The stripe's fields as the machine hears them: "number|kana|birth|sex|kanji|first|problem".
TEST(SimStripeReading, FieldsComeBackAsTextAndBrokenLayoutsAreNamed)
{
    sample::Stripe no_esc_k, no_so, odd_kanji;
    no_esc_k.sNumber = "1234567890";
    no_so.sKana[0] = ' ';
    odd_kanji.sKanji = vt::Hex("7F 7F 45 44") + std::string(10, '!');
    const struct {
        std::string record, fields;
    } cases[] = {
        {sample::Stripe().Bytes(), u8"12345|ヤマダ タロウ|19700101|1|山田太郎|20240401|"},
        {no_esc_k.Bytes().replace(43, 2, "  "),
         u8"1234567890|ヤマダ タロウ|19700101|1|山田太郎|20240401|no ESC K before the kanji name"},
        {no_so.Bytes(), u8"12345|TO@^ タロウ|19700101|1|山田太郎|20240401|the kana name does not open with SO"},
        {odd_kanji.Bytes(), u8"12345|ヤマダ タロウ|19700101|1|\\x7F\\x7F田|20240401|"},
    };
    for (const auto &c : cases) {
        SimStripe s;
        ASSERT_TRUE(SimDecodeStripe(c.record, &s));
        EXPECT_EQ(s.sNumber + "|" + s.sKana + "|" + s.sBirth + "|" + s.sSex + "|" + s.sKanji + "|" + s.sFirst + "|" +
                      s.sProblem,
                  c.fields);
    }
    SimStripe s;
    EXPECT_FALSE(SimDecodeStripe(std::string(SIM_RECORD_LEN - 1, ' '), &s));
}

TEST(SimCardFolder, NumbersFollowTheHighestCardFolder)
{
    vt::TempDir dir;
    EXPECT_EQ(SimNextCardNumber(dir.file("missing")), 1);
    for (const char *name : {"card-0003", "card-0010", "card-abcd", "card-12", "card-0099x", "other-0500"})
        ASSERT_EQ(mkdir(dir.file(name).c_str(), 0777), 0);
    EXPECT_EQ(SimNextCardNumber(dir.path()), 11);
    SimCard card;
    card.iWidth = card.iHeight = card.iByteRows = 1;
    card.cPicture.assign(1, 0);
    std::string folder, err;
    ASSERT_TRUE(SimKeepCard(dir.file("a/b"), card, &folder, &err)) << err;
    EXPECT_EQ(folder, dir.file("a/b/card-0001"));
    EXPECT_EQ(vt::ReadFile(folder + "/card.txt").substr(0, 16), "output: rewrite\n");
    vt::WriteFile(dir.file("plain"), "x");
    EXPECT_FALSE(SimKeepCard(dir.file("plain"), card, &folder, &err));
}

// ---- the real server ----

struct Client {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    explicit Client(int port)
    {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    }
    ~Client() { close(fd); }
    void Send(const std::string &b) { send(fd, b.data(), b.size(), MSG_NOSIGNAL); }
    // Until n bytes have come, the line closed, or nothing came for ms.
    std::string Read(size_t n, int ms = 2000)
    {
        std::string got;
        char buf[4096];
        pollfd p = {fd, POLLIN, 0};
        while (got.size() < n && poll(&p, 1, ms) > 0) {
            const ssize_t r = recv(fd, buf, std::min(sizeof buf, n - got.size()), 0);
            if (r <= 0) break;
            got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }
    // Frame, first reply, result, closing ACK: the answer code and the result.
    std::string Exchange(const std::string &frame)
    {
        Send(frame);
        const std::string first = Read(10);
        const std::string result = first.size() == 10 && first[9] == 0x06 ? Read(20) : "";
        if (!result.empty()) Send("\x06");
        return (first.size() == 10 ? vt::ToHex(first.substr(9)) : "none") + " " + result;
    }
};

// A frame with a wrong block check or no letter gets NAK and nothing more;
// the operator's counts go by the good status requests; the wire record
// holds every unit received; --once ends with the connection.
TEST(SimWire, NakStatusAndWireRecordOverOneRun)
{
    vt::TempDir dir;
    vt::Child sim;
    const int port =
        vt::StartSim(&sim, {"--once", "--card-after", "2", "--cover-open", "1", "--frames", dir.file("f")});
    ASSERT_GT(port, 0) << sim.Err();
    {
        Client c(port);
        EXPECT_EQ(c.Exchange(vt::Hex("02 59 03 5B")), "15 ");
        EXPECT_EQ(c.Exchange(vt::Hex("02 03 00")) + c.Read(1, 150), "15 ");
        std::string seen;  // card and cover of each status block
        for (int i = 0; i < 2; i++) {
            const std::string status = c.Exchange(sample::Frame("Y")).substr(3);
            ASSERT_EQ(status.size(), 20u);
            seen += {status[12], status[16], ' '};
        }
        EXPECT_EQ(seen, "01 10 ");
    }
    EXPECT_EQ(sim.Wait(5000), 0) << sim.Err();
    EXPECT_EQ(vt::ReadFile(dir.file("f")), "02 59 03 5B\n02 03 00\n02 59 03 5A\n06\n02 59 03 5A\n06\n");
}

TEST(SimWire, SurvivesGarbageOverlongFramesAndClientsThatVanish)
{
    vt::Child sim;
    const int port = vt::StartSim(&sim, {});
    ASSERT_GT(port, 0) << sim.Err();
    {
        Client c(port);
        c.Send(std::string(3000, '\x7F') + '\x02' + std::string(100000, 'A'));  // stray, then a frame without end
        EXPECT_EQ(c.Exchange(sample::Frame("Y")).substr(0, 3), "06 ");
        for (char b : sample::Frame("Z412")) c.Send(std::string(1, b));  // a frame in one-byte pieces
        EXPECT_EQ(c.Read(10).substr(9), "\x06");
        c.Read(20);
        c.Send("\x02M0,0,1,");  // gone in the middle of a frame
    }
    Client(port).Send(sample::Frame("Y"));  // gone while the reply is on its way
    for (int i = 0; i < 3; i++) EXPECT_EQ(Client(port).Exchange(sample::Frame("Y")).substr(0, 3), "06 ") << i;
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(10000), 0);
    EXPECT_NE(sim.Err().find("frame longer than 4096 bytes dropped"), std::string::npos);
}

TEST(SimWire, BadOptionsEndWithStatus2AndTheUsage)
{
    for (const Lines &args : {Lines{"--listen", "127.0.0.1"}, Lines{"--bogus"}, Lines{"--help"}}) {
        vt::Child sim;
        ASSERT_TRUE(sim.Start(VESTRUN_SIM_BIN, args));
        const bool help = args[0] == "--help";
        EXPECT_EQ(sim.Wait(10000), help ? 0 : 2) << args[0];
        EXPECT_NE((help ? sim.Out() : sim.Err()).find("usage: vestrun-sim"), std::string::npos) << args[0];
    }
}

}  // namespace
