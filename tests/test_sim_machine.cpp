// The stand-in's machine without a wire: image frames into the picture
// buffer, the status block, the stripe read back into text, the kept card.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bitmap.h"
#include "card.h"
#include "frame.h"
#include "log.h"
#include "machine.h"
#include "testutil.h"

namespace {

TEST(SimImage, FramesParse)
{
    struct Case {
        char letter;
        const char *params;
        int col, row, bytes, cols;
        const char *data;  // hex
    };
    const Case cases[] = {
        {'M', "5,3,2,18000000", 5, 3, 2, 2, "81 00 00 00"},
        {'M', "0,0,1,af", 0, 0, 1, 1, "FA"},  // lower-case digits too
        {'M', "479,63,1,08", 479, 63, 1, 1, "80"},
        {'C', "7,0,1F00", 7, 0, 2, 1, "F1 00"},
        {'C', "0,4,10", 0, 4, 1, 1, "01"},
    };
    for (const Case &c : cases) {
        SimImageFrame f;
        std::string err;
        ASSERT_TRUE(SimParseImage(c.letter, c.params, &f, &err)) << c.params << ": " << err;
        EXPECT_EQ(f.iCol, c.col) << c.params;
        EXPECT_EQ(f.iRow, c.row) << c.params;
        EXPECT_EQ(f.iBytes, c.bytes) << c.params;
        EXPECT_EQ(f.iCols, c.cols) << c.params;
        EXPECT_EQ(vt::ToHex(std::string(f.cData.begin(), f.cData.end())), c.data) << c.params;
    }
    const std::pair<char, const char *> bad[] = {
        {'M', ",0,1,00"},   {'M', "0,0,0,"},     {'M', "0,0,1,"},      {'M', "1234567,0,1,00"},
        {'M', "0,0,1,0"},   {'M', "-1,0,1,00"},  {'M', "0,0,2,00"},    {'M', "0 ,0,1,00"},
        {'M', "0,0,1,0g"},  {'C', "0,0,"},       {'C', "0,0,1"},       {'C', "0,00"},
        {'Y', "0,0,1,00"},
    };
    for (const auto &b : bad) {
        SimImageFrame f;
        std::string err;
        EXPECT_FALSE(SimParseImage(b.first, b.second, &f, &err)) << b.second;
        EXPECT_NE(err, "") << b.second;
    }
}

TEST(SimMachineState, StatusBlockTellsWhatTheMachineHolds)
{
    SimMachine m;
    SimMachineInit(&m, 480, 512, SimOperator());
    const std::string idle = SimMachineAnswer(&m, 'Y', "").tReply.cResult;
    ASSERT_EQ(idle.size(), static_cast<size_t>(SIM_STATUS_LEN));
    EXPECT_EQ(idle.substr(2, 4), "0000");  // LED, ink, record, stripe
    EXPECT_EQ(static_cast<unsigned char>(idle.back()), SimFrameBcc(idle.substr(0, idle.size() - 1)));

    SimMachineAnswer(&m, 'Z', "412");
    SimMachineAnswer(&m, 'M', "0,0,1,10");
    SimMachineAnswer(&m, '9', std::string(SIM_RECORD_LEN, ' '));
    SimMachineAnswer(&m, '1', "2");
    EXPECT_EQ(SimMachineAnswer(&m, 'Y', "").tReply.cResult.substr(2, 4), "1111");

    // The reset puts the LED out and clears the buffers; what is on the card stays.
    SimMachineAnswer(&m, '_', "");
    EXPECT_EQ(SimMachineAnswer(&m, 'Y', "").tReply.cResult.substr(2, 4), "0001");
}

TEST(SimMachineState, CommandsItCannotCarryOutAreRefusedWithDle)
{
    struct Case {
        int card_after;
        std::vector<std::string> before;  // letter and parameters, each accepted
        std::string frame;
    };
    const std::string record(SIM_RECORD_LEN, ' ');
    const std::vector<Case> cases = {
        {0, {}, "Q"},                          // unknown letter
        {0, {}, "Z999"},                       // unknown LED pattern
        {0, {}, "Y1"},                         // parameters where none belong
        {0, {}, "9" + record.substr(1)},       // record one byte short
        {5, {"9" + record}, "12"},             // no card to write
        {0, {}, "12"},                         // a card, but no record
        {0, {"9" + record, "I"}, "12"},        // the record cleared with all buffers
        {5, {}, "G1"},                         // no card to put out
        {0, {"G1"}, "F1"},                     // the card has gone out already
        {0, {}, "G2"},
        {0, {}, "M480,0,1,00"},                // right of the 480 x 512 buffer
        {0, {}, "M0,64,1,00"},                 // below it
        {0, {}, "M0,0,2,000"},                 // odd hex text
    };
    for (const Case &c : cases) {
        SimMachine m;
        SimOperator op;
        op.iCardAfter = c.card_after;
        SimMachineInit(&m, 480, 512, op);
        for (const std::string &f : c.before) {
            ASSERT_EQ(SimMachineAnswer(&m, f[0], f.substr(1)).tReply.cCode, 0x06) << f;
        }
        const SimOutcome out = SimMachineAnswer(&m, c.frame[0], c.frame.substr(1));
        EXPECT_EQ(out.tReply.cCode, 0x10) << c.frame;
        EXPECT_EQ(out.tReply.cResult, "") << c.frame;
        EXPECT_FALSE(out.bCardOut) << c.frame;
    }
}

TEST(SimMachineState, CardPutOutCarriesPictureStripeAndCharacterSet)
{
    SimMachine m;
    SimMachineInit(&m, 16, 8, SimOperator());
    const std::string record(SIM_RECORD_LEN, 'r');
    SimMachineAnswer(&m, 'M', "1,0,1,30");
    SimMachineAnswer(&m, 'A', "0,");
    SimMachineAnswer(&m, '9', record);
    SimMachineAnswer(&m, '1', "2");
    const SimOutcome out = SimMachineAnswer(&m, 'F', "1");
    ASSERT_TRUE(out.bCardOut);
    EXPECT_FALSE(out.tCard.bAppend);
    EXPECT_TRUE(out.tCard.bStripe);
    EXPECT_EQ(out.tCard.cStripe, record);
    EXPECT_TRUE(out.tCard.bCharset);
    EXPECT_EQ(out.tCard.cCharset, "0,");
    ASSERT_EQ(out.tCard.cPicture.size(), 16u);
    EXPECT_EQ(out.tCard.cPicture[1], 0x03);
    // The card waits to be taken out.
    EXPECT_EQ(SimMachineAnswer(&m, 'Y', "").tReply.cResult[SIM_STATUS_CARD], '2');
}

// ---- the stripe ---------------------------------------------------------------

// A 69-byte record from its fields (hex for the two names).
std::string Record(const std::string &number, const char *kana_hex, const std::string &birth, char sex,
                   const char *kanji_hex, const std::string &first)
{
    std::string kana = vt::Hex(kana_hex);
    kana.resize(24, ' ');
    std::string kanji = vt::Hex(kanji_hex);
    kanji.resize(14, '!');
    return number + kana + birth + sex + "\x1BK" + kanji + "\x1BH" + first;
}

TEST(SimStripeText, SamplePatientReadsBack)
{
    const std::string rec = Record("     12345", "0E 54 4F 40 5E 0F 20 0E 40 5B 33 0F", "19700101", '1',
                                   "3B 33 45 44 42 40 4F 3A", "20240401");
    ASSERT_EQ(rec.size(), 69u);
    SimStripe s;
    ASSERT_TRUE(SimDecodeStripe(rec, &s));
    EXPECT_EQ(s.szNumber, "12345");
    EXPECT_EQ(s.szKana, u8"ヤマダ タロウ");
    EXPECT_EQ(s.szBirth, "19700101");
    EXPECT_EQ(s.szSex, "1");
    EXPECT_EQ(s.szKanji, u8"山田太郎");
    EXPECT_EQ(s.szFirst, "20240401");
    EXPECT_EQ(s.szProblem, "");
}

TEST(SimStripeText, KanaFieldsReadBack)
{
    struct Case {
        const char *field;
        const char *text;
    };
    const Case cases[] = {
        {"0E 54 4F 40 5E 0F 20 0E 0F", u8"ヤマダ"},                        // one part only
        {"0E 43 3D 44 0F 20 0E 43 5E 30 40 0F", u8"テスト データ"},          // voiced mark joined
        {"0E 4A 5F 0F", u8"パ"},                                           // semi-voiced
        {"0E 33 5E 0F", u8"ヴ"},
        {"0E 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 0F",
         u8"アアアアアアアアアアアアアアアアアアアアアア"},                  // 24 bytes, no blank
        {"0E 31 5E 0F", u8"ｱﾞ"},                                          // a mark ｱ cannot take: left half-width
        {"0E 5E 5E 0F", u8"ﾞﾞ"},
        {"0E 5E 0F", u8"゛"},                                              // a mark on its own
        {"0E 54 01 0F", u8"ヤ?"},                                          // a control byte
        {"0E 41 0F", u8"チ"},                                              // 0x41 in kana is ﾁ
        {"0E 61 0F", "a"},                                                 // no kana code: text
        {"", ""},
    };
    for (const Case &c : cases) {
        SimStripe s;
        ASSERT_TRUE(SimDecodeStripe(Record("         1", c.field, "19700101", '2', "", "20240401"), &s));
        EXPECT_EQ(s.szKana, c.text) << c.field;
    }
}

TEST(SimStripeText, KanjiFieldsReadBack)
{
    struct Case {
        const char *field;
        const char *text;
    };
    const Case cases[] = {
        {"30 21 30 21 30 21 30 21 30 21 30 21 30 21", u8"亜亜亜亜亜亜亜"},  // seven characters, no fill
        {"3B 33 21 21 45 44", u8"山　田"},                                 // an inner blank stays
        {"34 41 3B 7A", u8"漢字"},
        {"", ""},
        {"7F 21 3B 33", u8"?山"},
    };
    for (const Case &c : cases) {
        SimStripe s;
        ASSERT_TRUE(SimDecodeStripe(Record("         1", "0E 0F", "19700101", '2', c.field, "20240401"), &s));
        EXPECT_EQ(s.szKanji, c.text) << c.field;
    }
}

TEST(SimStripeText, OtherFieldsAndLayoutFaults)
{
    SimStripe s;
    ASSERT_TRUE(SimDecodeStripe(Record("1234567890", "0E 0F", "1970/01/", '\x01', "", "2024    "), &s));
    EXPECT_EQ(s.szNumber, "1234567890");
    EXPECT_EQ(s.szBirth, "1970/01/");
    EXPECT_EQ(s.szSex, "\\x01");
    EXPECT_EQ(s.szFirst, "2024");

    std::string noEscK = Record("         1", "0E 0F", "19700101", '1', "", "20240401");
    noEscK[43] = ' ';
    ASSERT_TRUE(SimDecodeStripe(noEscK, &s));
    EXPECT_NE(s.szProblem, "");
    std::string noEscH = Record("         1", "0E 0F", "19700101", '1', "", "20240401");
    noEscH[60] = 'X';
    ASSERT_TRUE(SimDecodeStripe(noEscH, &s));
    EXPECT_NE(s.szProblem, "");

    EXPECT_FALSE(SimDecodeStripe(std::string(68, ' '), &s));
    EXPECT_FALSE(SimDecodeStripe(std::string(70, ' '), &s));
}

TEST(SimStripeText, ShiftJisBecomesOneLineOfUtf8)
{
    struct Case {
        const char *sjis;
        const char *utf8;
    };
    const Case cases[] = {
        {"8A BF 8E 9A", u8"漢字"},
        {"81 7C", u8"－"},                // CP932, not plain Shift_JIS
        {"B1 DE", u8"ｱﾞ"},
        {"41 0A 42", "A\\x0AB"},          // a line feed never breaks the line
        {"8A", "\\x8A"},                  // a lead byte at the end
        {"8A 0A", "\\x8A\\x0A"},          // a lead byte before a control byte
        {"FF", "\\xFF"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(SimCp932ToUtf8(vt::Hex(c.sjis)), c.utf8) << c.sjis;
    }
}

TEST(SimStripeText, CharacterSetPieces)
{
    EXPECT_EQ(SimCharsetText(""), "head: \n");
    EXPECT_EQ(SimCharsetText(vt::Hex("30 2C 1B 58 30 30 37 1B 59 31 32 33 34 1B 45 4B 0A 8F 97 90 AB 1B 51 7A")),
              u8"head: 0,\nx: 007\ny: 1234\ntext: K\\x0A女性\nesc Q: z\n");
}

// ---- the kept card ----------------------------------------------------------

TEST(SimCardFolder, PictureRoundTripsThroughTheBitmapReader)
{
    for (const auto &size : std::vector<std::pair<int, int>>{{1, 1}, {13, 11}, {480, 512}}) {
        const int w = size.first, h = size.second;
        SimMachine m;
        SimMachineInit(&m, w, h, SimOperator());
        SimCard card;
        card.iWidth = w;
        card.iHeight = h;
        card.iByteRows = m.iByteRows;
        card.cPicture.assign(static_cast<size_t>(w) * m.iByteRows, 0);
        // Ink at the four corners.
        const std::vector<std::pair<int, int>> corners = {{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}};
        for (const auto &p : corners) {
            card.cPicture[static_cast<size_t>(p.first) * m.iByteRows + p.second / 8] |=
                static_cast<unsigned char>(1 << (p.second % 8));
        }
        vt::TempDir dir;
        std::string err;
        ASSERT_TRUE(SimWritePicture(card, dir.file("p.bmp"), &err)) << err;
        const std::string file = vt::ReadFile(dir.file("p.bmp"));
        const size_t stride = ((static_cast<size_t>(w) + 7) / 8 + 3) / 4 * 4;
        EXPECT_EQ(file.size(), 62 + stride * h);

        HeaderInfo hi = {nullptr, nullptr, nullptr};
        Image img = {0, 0, 0, nullptr};
        ASSERT_EQ(ReadBmp(dir.file("p.bmp").c_str(), &hi, &img), 0);
        EXPECT_EQ(img.width, static_cast<uint32_t>(w));
        EXPECT_EQ(img.height, static_cast<uint32_t>(h));
        const size_t row = (static_cast<size_t>(w) + 7) / 8;
        int ink = 0;
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                if (img.data[y * row + x / 8] & (0x80 >> (x % 8))) {
                    ink++;
                    EXPECT_TRUE((x == 0 || x == w - 1) && (y == 0 || y == h - 1)) << x << "," << y;
                }
            }
        }
        EXPECT_EQ(ink, w == 1 ? 1 : 4);
        FreeImage(&img);
        FreeHeader(&hi);
    }
}

TEST(SimCardFolder, NumbersFollowTheHighestCardFolder)
{
    vt::TempDir dir;
    EXPECT_EQ(SimNextCardNumber(dir.file("missing")), 1);
    EXPECT_EQ(SimNextCardNumber(dir.path()), 1);
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
