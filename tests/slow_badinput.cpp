// Bad input that does reach the machine: the host and print style at their
// limits, and pictures that are odd but can be carried, each issued as a
// whole card against vestrun-sim with its stripe and picture checked. The
// rest is in test_badinput.cpp; docs/bad-input.md is made from both.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "badinput.h"
#include "bmpfile.h"
#include "slow_e2e.h"

namespace {

using badin::Repeat;
using sample::Stripe;
using badin::Seen;

// ---- cards -----------------------------------------------------------------------

// The picture of the cards below unless a case brings its own: 16 x 8, two
// bands of ink in one byte-row.
const std::vector<std::string> kDrawing = {
    "#...#..#######..", "#...#.....#.....", "#...#.....#.....", ".#.#......#.....",
    ".#.#......#.....", "..#.......#.....", "..#.......#.....", "................",
};

struct CardRow {
    const char *szId, *szWhat;
    std::vector<std::pair<int, std::string>> vArgs;  // arguments put over the sample patient's
    std::function<std::string()> fPicture = nullptr; // the bitmap file; nullptr: kDrawing
    std::vector<std::string> vInk = {};              // the card's picture, top left; with fPicture
    const char *szOutput = sample::kAppend;
};

void PrintTo(const CardRow &a_tRow, std::ostream *a_os) { *a_os << a_tRow.szId; }

class Card : public ::testing::TestWithParam<CardRow> {};

// The whole run goes through: every command answered, the stripe and the
// picture that the machine kept are the ones asked for.
TEST_P(Card, IssuedWithItsStripeAndPicture)
{
    const CardRow &c = GetParam();
    e2e::Machine m;
    ASSERT_TRUE(m.Start());
    const std::string sPath = m.tDir.file("card.bmp");
    vt::WriteFile(sPath, c.fPicture ? c.fPicture() : vt::MonoBmp(kDrawing));
    auto args = sample::Args(m.Port(), sPath);
    for (const auto &a : c.vArgs) args[static_cast<size_t>(a.first - 1)] = a.second;
    badin::Run r = badin::Vestrun(args);
    m.Finish();

    EXPECT_EQ(r.iStatus, 0) << r.sErr;
    EXPECT_EQ(r.Last(), "切断");
    EXPECT_EQ(r.sErr, "");
    const std::string sStripe = Stripe().Bytes();
    auto frames = m.Frames();
    EXPECT_EQ(e2e::Commands(frames), (std::vector<std::string>{sample::kClearAll, sample::kLedOn, sample::kStatus,
                                                               sample::Wire("9" + sStripe), sample::kWriteStandby,
                                                               c.szOutput, sample::kLedOff}));
    const std::string sKept = vt::ReadFile(m.Card("stripe.bin"));
    EXPECT_EQ(vt::ToHex(sKept), vt::ToHex(sStripe));
    // The card's picture against the one asked for, pixel by pixel.
    const auto vGot = e2e::Art(m.Card("picture.bmp"));
    const auto &vArt = c.fPicture ? c.vInk : kDrawing;
    int iInk = 0, iDiff = vGot.size() == 512 && vGot[0].size() == 480 ? 0 : -1;
    for (size_t y = 0; y < 512 && iDiff >= 0; y++) {
        for (size_t x = 0; x < 480; x++) {
            iInk += vGot[y][x] == '#';
            iDiff += (vGot[y][x] == '#') != (y < vArt.size() && x < vArt[y].size() && vArt[y][x] == '#');
        }
    }
    EXPECT_EQ(iDiff, 0) << "pixels where the card and the picture asked for differ";

    int iImage = 0;
    for (const auto &f : frames) iImage += f.compare(0, 5, "02 4D") == 0;
    std::string sMachine = std::string("card ") + (c.szOutput == sample::kAppend ? "G1" : "F1") + ", image frames: " +
                           std::to_string(iImage) + ", pixels inked: " + std::to_string(iInk) +
                           (iDiff == 0 ? " as drawn" : ", " + std::to_string(iDiff) + " wrong");
    const char *szGroup = c.szId[0] == 'L' ? "Argument limits (at the limit)" : "Pictures the reader takes";
    badin::Emit(c.szId, szGroup, c.szWhat, Seen{"exit " + std::to_string(r.iStatus), r.Last(), r.sErr, sMachine, sKept});
}

std::string Mono(int64_t a_iW, int64_t a_iH, const std::vector<std::string> &a_vArt, uint32_t a_iInfo = 40,
                 const std::string &a_sPalette = vt::MonoPalette())
{
    vt::BmpPicture p;
    p.width = a_iW;
    p.height = a_iH;
    p.rows = vt::MonoRows(a_vArt);
    p.palette = a_sPalette;
    p.infoLen = a_iInfo;
    return vt::BuildBmp(p);
}

const std::vector<std::string> kBars(8, "#.#.#.#.##..##..");
// The same rows read from the wrong place: the colour table (white, black)
// is taken for the bottom two rows and the picture moves up by two.
const std::vector<std::string> kBarsShifted = {
    kBars[0], kBars[0], kBars[0], kBars[0], kBars[0], kBars[0], "................", "################",
};
const std::vector<std::string> kCore = {
    "#...............................#",
    ".#.............................#.",
    "..#############################..",
};
std::vector<std::string> Corners()
{
    std::vector<std::string> art(512, std::string(480, '.'));
    art[0][0] = art[0][479] = art[511][0] = art[511][479] = '#';
    return art;
}
std::vector<std::string> Inverted()
{
    std::vector<std::string> art = kDrawing;
    for (auto &row : art) {
        for (auto &ch : row) ch = ch == '#' ? '.' : '#';
    }
    return art;
}

const CardRow kCardRows[] = {
    {"L01", "1 host: 63 bytes (127.0.0.1 written 0000...0177.1)", {{1, std::string(58, '0') + "177.1"}}},
    {"L02", "3 print style: empty (rewrite)", {{3, ""}}, nullptr, {}, sample::kRewrite},
    {"P01", "1 bit, width 0", {}, [] { return Mono(0, 8, {}); }, {}},
    {"P02", "1 bit, height 0", {}, [] { return Mono(16, 0, {}); }, {}},
    {"P03", "core header, 1 bit, 33 x 3", {}, [] { return Mono(33, 3, kCore, 12); }, kCore},
    {"P04", "pixel-data offset 0 (rows read right after the info header)", {},
     [] {
         std::string f = Mono(16, 8, kBars);
         vt::PutLe32(f, 10, 0);
         return f;
     },
     kBarsShifted},
    {"P05", "a colour table of 70000 bytes before the rows", {},
     [] { return Mono(16, 8, kBars, 40, vt::MonoPalette() + std::string(70000 - 8, '\x55')); }, kBars},
    {"P06", "1 bit, 480 x 512, ink in the four corners", {}, [] { return vt::MonoBmp(Corners()); }, Corners()},
    {"P07", "colour table black, white: index 1 is ink whatever its colour", {},
     [] { return Mono(16, 8, Inverted(), 40, std::string("\x00\x00\x00\x00\xFF\xFF\xFF\x00", 8)); }, Inverted()},
};
INSTANTIATE_TEST_SUITE_P(BadInput, Card, ::testing::ValuesIn(kCardRows),
                         [](const auto &a_tInfo) { return std::string(a_tInfo.param.szId); });

}  // namespace
