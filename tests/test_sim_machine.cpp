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
        {{"C2,0,1000"}, "2,0=01"},  // a "C" frame carries a whole column from the top
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

TEST(SimMachineState, StatusTellsTheOperatorsCardAndCover)
{
    const struct {
        int after, waiting, cover;
        std::string cards, covers;  // bytes 12 and 16 of each status reply in turn
    } cases[] = {
        {0, 0, 0, "111", "000"},  {3, 0, 0, "0011", "0000"}, {0, 2, 0, "2211", "0000"},
        {3, 1, 0, "2011", "0000"}, {0, 0, 2, "111", "110"},  {2, 0, 1, "011", "100"},
    };
    for (const auto &c : cases) {
        SimOperator op;
        op.iCardAfter = c.after;
        op.iCardWaiting = c.waiting;
        op.iCoverOpen = c.cover;
        SimMachine m;
        SimMachineInit(&m, 480, 512, op);
        std::string cards, covers;
        for (size_t i = 0; i < c.cards.size(); i++) {
            const std::string status = SimMachineAnswer(&m, 'Y', "").tReply.cResult;
            ASSERT_EQ(status.size(), static_cast<size_t>(SIM_STATUS_LEN));
            cards += status[SIM_STATUS_CARD];
            covers += status[SIM_STATUS_COVER];
        }
        EXPECT_EQ(cards + " " + covers, c.cards + " " + c.covers) << c.after << c.waiting << c.cover;
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
        {0, {}, "M0,0,1,0"},              // odd hex text
        {0, {}, "M0,0,2,00"},             // fewer bytes than the columns need
        {0, {}, "M0 ,0,1,00"},            // a blank in a number
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

    // A record sent but never written leaves the stripe blank.
    SimMachineInit(&m, 16, 8, SimOperator());
    SimMachineAnswer(&m, '9', record);
    const SimOutcome blank = SimMachineAnswer(&m, 'G', "1");
    ASSERT_TRUE(blank.bCardOut);
    EXPECT_FALSE(blank.tCard.bStripe);
    EXPECT_EQ(SimCardText(blank.tCard),
              "output: append\npatient_number:\nkana_name:\nbirth_date:\nsex:\nkanji_name:\nfirst_visit:\n");
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

// The card's text file, from the sample patient's stripe and from fields as typed.
TEST(SimStripeText, SamplePatientAndFieldsAsTyped)
{
    const struct {
        std::string record;
        const char *text;
    } cases[] = {
        {Record("     12345", "0E 54 4F 40 5E 0F 20 0E 40 5B 33 0F", "19700101", '1', "3B 33 45 44 42 40 4F 3A",
                "20240401"),
         u8"output: rewrite\npatient_number: 12345\nkana_name: ヤマダ タロウ\nbirth_date: 19700101\nsex: 1\n"
         u8"kanji_name: 山田太郎\nfirst_visit: 20240401\n"},
        {Record("1234567890", "0E 0F", "1970/01/", '\x01', "", "2024    "),
         "output: rewrite\npatient_number: 1234567890\nkana_name:\nbirth_date: 1970/01/\nsex: \\x01\nkanji_name:\n"
         "first_visit: 2024\n"},
    };
    for (const auto &c : cases) {
        SimStripe s;
        ASSERT_TRUE(SimDecodeStripe(c.record, &s));
        EXPECT_EQ(s.sProblem, "");
        SimCard card;
        card.bStripe = true;
        card.cStripe = c.record;
        EXPECT_EQ(SimCardText(card), c.text);
    }
    SimStripe s;
    EXPECT_FALSE(SimDecodeStripe(std::string(68, ' '), &s));
    EXPECT_FALSE(SimDecodeStripe(std::string(70, ' '), &s));
}

TEST(SimStripeText, NameFieldsReadBack)
{
    const struct {
        const char *kana, *kanji;
        const char *text;  // the name read back
    } cases[] = {
        {"0E 54 4F 40 5E 0F 20 0E 0F", "", u8"ヤマダ"},                    // one part only
        {"0E 43 3D 44 0F 20 0E 43 5E 30 40 0F", "", u8"テスト データ"},      // voiced mark joined
        {"0E 4A 5F 0F", "", u8"パ"},
        {"0E 33 5E 0F", "", u8"ヴ"},
        {"0E 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 0F", "",
         u8"アアアアアアアアアアアアアアアアアアアアアア"},                  // 24 bytes, no blank
        {"0E 36 5E 4E 5F 33 0F", "", u8"ガポウ"},
        {"0E 31 5E 0F", "", u8"ア゛"},                                     // a mark ｱ cannot take stays a mark
        {"0E 5E 0F", "", u8"゛"},                                          // a mark on its own
        {"0E 21 25 30 0F", "", u8"。・ー"},
        {"0E 54 01 0F", "", u8"ヤ\\x01"},                                  // a control byte
        {"0E 61 0F", "", "\\x61"},                                        // no kana code
        {"41 0E 0F", "", "A"},                                             // text before SO
        {"", "30 21 30 21 30 21 30 21 30 21 30 21 30 21", u8"亜亜亜亜亜亜亜"},  // seven characters, no fill
        {"", "3B 33 21 21 45 44", u8"山　田"},                             // an inner blank stays
        // Heavy box-drawing characters come over on row 12; light ones stay on row 8.
        {"", "2C 25 2C 27 2C 6F 28 21 2C 33", u8"━┃╋─┏"},
        {"", "2D 21 2D 62", u8"①№"},                                       // the NEC row 13
        // Codes with no character: the pair escaped whole, never half a character.
        {"", "75 21 3B 33", "\\x75\\x21" u8"山"},                          // user-defined
        {"", "29 21 2C 21", "\\x29\\x21\\x2C\\x21"},                     // empty rows
        {"", "7F 21 3B 33", "\\x7F\\x21" u8"山"},
        {"", "3B B1 3B 33", "\\x3B\\xB1" u8"山"},
    };
    for (const auto &c : cases) {
        SimStripe s;
        ASSERT_TRUE(SimDecodeStripe(Record("         1", c.kana, "19700101", '2', c.kanji, "20240401"), &s));
        EXPECT_EQ(*c.kanji ? s.sKanji : s.sKana, c.text) << c.kana << c.kanji;
    }
}

TEST(SimStripeText, ShiftJisBecomesOneLineOfUtf8)
{
    const struct {
        const char *sjis, *utf8;
    } cases[] = {
        {"8A BF 8E 9A", u8"漢字"},
        {"81 7C B1 DE", u8"－ｱﾞ"},        // CP932, not plain Shift_JIS
        {"41 0A 42", "A\\x0AB"},          // a line feed never breaks the line
        {"8A 0A", "\\x8A\\x0A"},          // a lead byte before a control byte
        {"85 B1 41", "\\x85\\xB1A"},       // a pair with no character: never a lead byte and a ｱ
        {"87 40 F0 40", u8"①\\xF0\\x40"},   // NEC row 13; a user-defined code
        {"8A", "\\x8A"},                  // a lead byte at the end
    };
    for (const auto &c : cases) {
        EXPECT_EQ(SimCp932ToUtf8(vt::Hex(c.sjis)), c.utf8) << c.sjis;
    }
    EXPECT_EQ(SimCharsetText(""), "head: \n");
    EXPECT_EQ(SimCharsetText(vt::Hex("30 2C 1B 58 30 30 37 1B 59 31 32 33 34 1B 45 4B 0A 8F 97 90 AB 1B 51 7A")),
              u8"head: 0,\nx: 007\ny: 1234\ntext: K\\x0A女性\nesc Q: z\n");
}

// ---- the kept card ----------------------------------------------------------

// 13 x 11: rows with fill, a second byte-row half used.
TEST(SimCardFolder, PictureIsAOneBitBmpWithInkAtIndexOne)
{
    const std::vector<std::string> art = {"#...........#", "", "", "", "", "", "", "", "", "", "#...........#"};
    SimCard card;
    card.iWidth = 13;
    card.iHeight = 11;
    card.iByteRows = 2;
    card.cPicture.assign(13 * 2, 0);
    for (int x : {0, 12}) {
        card.cPicture[x * 2] = 0x01;      // row 0
        card.cPicture[x * 2 + 1] = 0x04;  // row 10
    }
    vt::TempDir dir;
    std::string err;
    ASSERT_TRUE(SimWritePicture(card, dir.file("p.bmp"), &err)) << err;
    const std::string file = vt::ReadFile(dir.file("p.bmp")), want = vt::MonoBmp(art);
    EXPECT_EQ(vt::ToHex(file.substr(0, 2) + file.substr(10, 4) + file.substr(18, 8) + file.substr(28, 2)),
              vt::ToHex(want.substr(0, 2) + want.substr(10, 4) + want.substr(18, 8) + want.substr(28, 2)));
    EXPECT_EQ(vt::ToHex(file.substr(54)), vt::ToHex(want.substr(54)));  // colour table and rows, fill included
}

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
