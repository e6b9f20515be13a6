// A whole card, end to end: the real vestrun against its own vestrun-sim.
// Every frame on the wire in order, the log, the exit status, and the card
// that the machine kept compared with what was sent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap.h"
#include "slow_e2e.h"

namespace {

// One pixel of a 1-bit picture in row form: 1 = palette index 1 = ink.
int Ink(const Image &a_stImg, uint32_t x, uint32_t y)
{
    if (x >= a_stImg.width || y >= a_stImg.height) {
        return 0;
    }
    uint32_t iRowBytes = (a_stImg.width + 7) / 8;
    return (a_stImg.data[y * iRowBytes + x / 8] >> (7 - x % 8)) & 1;
}

struct Picture {
    HeaderInfo tHead = {nullptr, nullptr, nullptr};
    Image tImg = {0, 0, 0, nullptr};
    bool bOk = false;
    explicit Picture(const std::string &a_sPath) { bOk = ReadBmp(a_sPath.c_str(), &tHead, &tImg) == 0; }
    ~Picture()
    {
        FreeImage(&tImg);
        FreeHeader(&tHead);
    }
};

int Nibble(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

// Lays the "M" frames onto a blank 480 x 512 machine buffer, checking each
// frame's form on the way: head, block check, column count and text length.
void ApplyImageFrames(const std::vector<std::string> &a_vFrames, std::vector<std::vector<int>> &a_vBuf)
{
    for (const auto &sHex : a_vFrames) {
        if (sHex.compare(0, 5, "02 4D") != 0) {
            continue;
        }
        std::string f = vt::Hex(sHex);
        ASSERT_GE(f.size(), 4u) << sHex;
        ASSERT_EQ(f[f.size() - 2], '\x03') << sHex;
        unsigned char bcc = 0;
        for (size_t i = 1; i + 1 < f.size(); i++) {
            bcc ^= static_cast<unsigned char>(f[i]);
        }
        ASSERT_EQ(bcc, static_cast<unsigned char>(f.back())) << "block check of " << sHex.substr(0, 40);
        std::string body = f.substr(2, f.size() - 4);
        int iCol = -1, iRow = -1, iDatL = -1, iHead = 0;
        ASSERT_EQ(sscanf(body.c_str(), "%d,%d,%d,%n", &iCol, &iRow, &iDatL, &iHead), 3) << body.substr(0, 20);
        std::string text = body.substr(static_cast<size_t>(iHead));
        ASSERT_GT(iDatL, 0);
        ASSERT_EQ(text.size() % (2 * iDatL), 0u) << body.substr(0, 20);
        ASSERT_LE(text.size(), 800u) << "image text of one frame";
        ASSERT_LE(text.size() / (2 * iDatL), static_cast<size_t>(800 / (2 * iDatL)));
        size_t k = text.size() / (2 * iDatL);
        for (size_t c = 0; c < k; c++) {
            for (int b = 0; b < iDatL; b++) {
                const char *p = text.data() + 2 * (c * iDatL + b);
                ASSERT_TRUE(isxdigit(p[0]) && isxdigit(p[1]) && !islower(p[0]) && !islower(p[1]));
                int v = Nibble(p[0]) | Nibble(p[1]) << 4;  // low four bits first
                size_t x = iCol + c;
                ASSERT_LT(x, 480u);
                ASSERT_LT(static_cast<size_t>(iRow + b), 64u);
                for (int j = 0; j < 8; j++) {
                    a_vBuf[8 * (iRow + b) + j][x] = (v >> j) & 1;  // bit 0 is the uppermost row
                }
            }
        }
    }
}

void IssueAndCheck(const std::string &a_sStyle, const char *a_szOutput, bool a_bExtraArg)
{
    e2e::Machine m;
    ASSERT_TRUE(m.Start());
    e2e::Patient pat;
    pat.sStyle = a_sStyle;
    auto args = e2e::Args(m.Port(), e2e::SamplePicture(), pat);
    if (a_bExtraArg) {
        args.push_back("EXTRA");  // neither echoed nor used
    }
    e2e::Result r = e2e::Vestrun(args);

    EXPECT_EQ(r.iStatus, 0) << r.sErr;
    EXPECT_EQ(r.Last(), "切断");
    EXPECT_FALSE(r.Has("切断（プリンターリセット）"));
    std::string echo;
    for (size_t i = 0; i < 10; i++) {
        echo += std::to_string(i + 1) + "=" + args[i] + "\n";
    }
    EXPECT_EQ(r.sOut.substr(0, echo.size()), echo);
    EXPECT_EQ(r.sOut.find("EXTRA"), std::string::npos);

    // The wire: every frame answered, each result confirmed by a lone ACK.
    auto frames = m.Frames();
    ASSERT_FALSE(frames.empty());
    std::vector<std::string> want = {e2e::kClearAll, "06"};
    size_t i = 2;
    while (i + 1 < frames.size() && frames[i].compare(0, 5, "02 4D") == 0) {
        want.push_back(frames[i]);
        want.push_back("06");
        i += 2;
    }
    size_t iImage = (i - 2) / 2;
    EXPECT_GT(iImage, 0u) << "the sample picture holds ink";
    for (const char *f : {e2e::kLedOn, e2e::kStatus, e2e::kRecord, e2e::kWriteStandby, a_szOutput, e2e::kLedOff}) {
        want.push_back(f);
        want.push_back("06");
    }
    EXPECT_EQ(frames, want);
    // One log line per image frame, and the picture's transfer reported done.
    EXPECT_EQ(r.Count("イメージ送信開始"), static_cast<int>(iImage));
    EXPECT_TRUE(r.Has("外部イメージ展開完了"));

    // The image frames carry exactly the picture.
    Picture sample(e2e::SamplePicture());
    ASSERT_TRUE(sample.bOk);
    std::vector<std::vector<int>> buf(512, std::vector<int>(480, 0));
    ApplyImageFrames(frames, buf);
    int iDiff = 0;
    for (uint32_t y = 0; y < 512; y++) {
        for (uint32_t x = 0; x < 480; x++) {
            iDiff += buf[y][x] != Ink(sample.tImg, x, y);
        }
    }
    EXPECT_EQ(iDiff, 0) << "pixels where the frames and the picture differ";

    // The card the machine put out: its picture and its stripe.
    m.Finish();
    Picture kept(m.Card("picture.bmp"));
    ASSERT_TRUE(kept.bOk) << m.Card("picture.bmp");
    ASSERT_EQ(kept.tImg.bitCnt, 1u);
    ASSERT_EQ(kept.tImg.width, 480u);
    ASSERT_EQ(kept.tImg.height, 512u);
    iDiff = 0;
    for (uint32_t y = 0; y < 512; y++) {
        for (uint32_t x = 0; x < 480; x++) {
            iDiff += Ink(kept.tImg, x, y) != Ink(sample.tImg, x, y);
        }
    }
    EXPECT_EQ(iDiff, 0) << "pixels where the card and the picture differ";
    std::string record = vt::Hex(e2e::kRecord);
    EXPECT_EQ(vt::ToHex(vt::ReadFile(m.Card("stripe.bin"))), vt::ToHex(record.substr(2, 69)));
    std::string card = vt::ReadFile(m.Card("card.txt"));
    EXPECT_NE(card.find(std::string("output: ") + (a_sStyle == "0" ? "append" : "rewrite")), std::string::npos)
        << card;
    EXPECT_NE(card.find("patient_number: 12345"), std::string::npos) << card;
    EXPECT_NE(card.find("birth_date: 19700101"), std::string::npos) << card;
    EXPECT_NE(card.find("first_visit: 20240401"), std::string::npos) << card;
    EXPECT_NE(card.find(u8"山田太郎"), std::string::npos) << card;
}

TEST(EndToEnd, AppendCardGoesOutWithEveryFrameInOrder) { IssueAndCheck("0", e2e::kAppend, false); }

TEST(EndToEnd, RewriteCardIgnoresArgumentsAfterTheTenth) { IssueAndCheck("1", e2e::kRewrite, true); }

TEST(EndToEnd, EmptyStyleFlagMeansRewrite) { IssueAndCheck("", e2e::kRewrite, false); }

}  // namespace
