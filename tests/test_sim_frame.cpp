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
            s += std::string(u.eCheck == SIM_FRAME_OK        ? "ok"
                             : u.eCheck == SIM_FRAME_BAD_BCC ? "bcc"
                                                             : "nl") +
                 "[" + vt::ToHex(u.cBytes) + "]";
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

}  // namespace
