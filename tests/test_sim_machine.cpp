// The stand-in's machine without a wire: image frames into the picture
// buffer, the status block and the operator, the stripe read back into text,
// the kept card.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bmpfile.h"
#include "card.h"
#include "frame.h"
#include "machine.h"
#include "testutil.h"

namespace {

// The inked bytes of the buffer: "column,byte-row=hex" each.
std::string Inked(const SimMachine &m)
{
    std::string s;
    for (size_t i = 0; i < m.cPicture.size(); i++) {
        if (m.cPicture[i]) {
            s += (s.empty() ? "" : " ") + std::to_string(i / m.iByteRows) + "," + std::to_string(i % m.iByteRows) +
                 "=" + vt::ToHex(std::string(1, static_cast<char>(m.cPicture[i])));
        }
    }
    return s;
}

TEST(SimMachineState, ImageFramesLandInTheirColumnsAndByteRows)
{
    const struct {
        std::vector<std::string> frames;
        const char *inked;
    } cases[] = {
        // Byte-row 3 of column 5 is 0x81 (pixel rows 24 and 31): hex text runs low nibble first.
        {{"M5,3,2,18000000"}, "5,3=81"},
        {{"M100,7,1,0001"}, "101,7=10"},
        {{"M0,0,1,af"}, "0,0=FA"},
        {{"C2,0,1000"}, "2,0=01"},        // a "C" frame carries a whole column from the top
        {{"M479,63,1,08"}, "479,63=80"},  // the corner of the 480 x 512 buffer
        // A later frame overwrites the bytes it carries, and only those.
        {{"M0,0,2,F0F0", "M0,0,1,10"}, "0,0=01 0,1=0F"},
        // The clear of all buffers, the clear of the picture and the reset empty it.
        {{"M5,3,2,18000000", "I"}, ""},
        {{"M5,3,2,18000000", "@"}, ""},
        {{"M5,3,2,18000000", "_"}, ""},
    };
    for (const auto &c : cases) {
        SimMachine m;
        SimMachineInit(&m, 480, 512, SimOperator());
        for (const std::string &f : c.frames) {
            ASSERT_EQ(SimMachineAnswer(&m, f[0], f.substr(1)).tReply.cCode, 0x06) << f;
        }
        EXPECT_EQ(Inked(m), c.inked) << c.frames[0];
    }
}

TEST(SimMachineState, CommandsItCannotCarryOutAreRefusedWithDle)
{
    const std::string record(SIM_RECORD_LEN, ' ');
    const struct {
        int card_after;
        std::vector<std::string> before;  // letter and parameters, each accepted
        std::string frame;
    } cases[] = {
        {0, {}, "Q"},                     // unknown letter
        {0, {}, "Z999"},                  // unknown LED pattern
        {0, {}, "9" + record.substr(1)},  // record one byte short
        {5, {"9" + record}, "12"},        // no card to write
        {0, {}, "12"},                    // a card, but no record
        {0, {"9" + record, "I"}, "12"},   // the record cleared with all buffers
        {5, {}, "G1"},                    // no card to put out
        {0, {"G1"}, "F1"},                // the card has gone out already
        {0, {}, "M480,0,1,00"},           // right of the buffer
        {0, {}, "M0,64,1,00"},            // below it
        // Image frames that cannot be read.
        {0, {}, "M0,0,1,0"},    // odd hex text
        {0, {}, "M0,0,2,00"},   // fewer bytes than the columns need
        {0, {}, "M0 ,0,1,00"},  // a blank in a number
        {0, {}, "C0,00"},
    };
    for (const auto &c : cases) {
        SimOperator op;
        op.iCardAfter = c.card_after;
        SimMachine m;
        SimMachineInit(&m, 480, 512, op);
        for (const std::string &f : c.before) {
            ASSERT_EQ(SimMachineAnswer(&m, f[0], f.substr(1)).tReply.cCode, 0x06) << f;
        }
        const SimOutcome out = SimMachineAnswer(&m, c.frame[0], c.frame.substr(1));
        EXPECT_EQ(out.tReply.cCode, 0x10) << c.frame;
        EXPECT_EQ(out.tReply.cResult, "") << c.frame;
        EXPECT_FALSE(out.bCardOut) << c.frame;
        EXPECT_EQ(Inked(m), "") << c.frame;
    }
}

// ---- the kept card ----------------------------------------------------------

TEST(SimCardFolder, NumbersFollowTheHighestCardFolder)
{
    vt::TempDir dir;
    EXPECT_EQ(SimNextCardNumber(dir.file("missing")), 1);
    for (const char *name : {"card-0003", "card-0010", "card-abcd", "card-12", "card-0099x", "other-0500"}) {
        ASSERT_EQ(mkdir(dir.file(name).c_str(), 0777), 0);
    }
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
    EXPECT_NE(err, "");
}

}  // namespace
