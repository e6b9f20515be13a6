// Control commands, card output and the magnetic write against a scripted
// machine: the frames on the wire and what each command makes of the answer.
#include "slow_command.h"

namespace {

using namespace cmdtest;

T_PAT_INF Patient(char a_cStyFlg = '0')
{
    T_PAT_INF p;
    memset(&p, 0, sizeof p);
    strcpy(p.szID, "12345");
    memcpy(p.szNameKANA, "\x54\x4F\x40\x5E\x20\x40\x5B\x33", 8);
    strcpy(p.szBirthDate, "19700101");
    p.cSEX = '1';
    p.cStyFlg = a_cStyFlg;
    strcpy(p.szNameKANJI, "山田太郎");
    strcpy(p.szFirstDate, "20240401");
    return p;
}

struct Control {
    const char *name;
    std::function<int(int)> fn;
    const char *wire;
    Lines log;
};

// Cases print as their names, so that each reads well as a test of its own.
void PrintTo(const Control &a_c, std::ostream *a_os) { *a_os << a_c.name; }

class ControlFrame : public ::testing::TestWithParam<Control> {};

TEST_P(ControlFrame, GoesOutAndIsAcknowledged)
{
    const Control &c = GetParam();
    vt::Peer peer;
    Accept(peer);
    CmdRun r = RunCmd(peer, c.fn);
    EXPECT_EQ(r.iRet, 0);
    EXPECT_EQ(r.wire, (Lines{c.wire, "06"}));
    EXPECT_EQ(r.log, c.log);
}

const Lines kClear = {"バッファクリア開始", "バッファクリア成功"};
const Lines kLed = {"LED設定開始", "LED設定成功"};

INSTANTIATE_TEST_SUITE_P(
    Commands, ControlFrame,
    ::testing::Values(Control{"ClearAll", m_iBufClearAll, "02 49 03 4A", kClear},
                      Control{"Clear", m_iBufClear, "02 40 03 43", kClear},
                      Control{"LedOn", [](int s) { return m_iLEDSet(s, 1); }, "02 5A 34 31 32 03 6E", kLed},
                      Control{"LedOff", [](int s) { return m_iLEDSet(s, 0); }, "02 5A 30 31 30 03 68", kLed},
                      Control{"LedFlag2IsOff", [](int s) { return m_iLEDSet(s, 2); }, "02 5A 30 31 30 03 68", kLed},
                      Control{"Reset", m_iPrtReset, "02 5F 03 5C", {"プリンターリセット", "プリンターリセット成功"}},
                      Control{"AppendCard", [](int s) { return m_iCardPut(Patient('0'), s); }, "02 47 31 03 75",
                              {"カード出力開始", "　追記カード", "カード出力成功"}},
                      Control{"Rewrite", [](int s) { return m_iCardPut(Patient('1'), s); }, "02 46 31 03 74",
                              {"カード出力開始", "　リライト", "カード出力成功"}},
                      Control{"RewriteWithoutFlag", [](int s) { return m_iCardPut(Patient('\0'), s); },
                              "02 46 31 03 74", {"カード出力開始", "　リライト", "カード出力成功"}}),
    [](const ::testing::TestParamInfo<Control> &i) { return std::string(i.param.name); });

// A status reply: byte 12 the card, byte 16 the cover.
std::string Status(char a_cCard, char a_cCover, size_t a_iLen = 20)
{
    std::string s(a_iLen, '0');
    s[12] = a_cCard;
    if (a_iLen > 16) {
        s[16] = a_cCover;
    }
    return s.substr(0, a_iLen);
}

struct StatusCase {
    const char *name;
    std::string reply;
    int ret;
    Lines log;
};

void PrintTo(const StatusCase &a_c, std::ostream *a_os) { *a_os << a_c.name; }

class StatusReply : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusReply, IsReadAtBytes12And16)
{
    const StatusCase &c = GetParam();
    vt::Peer peer;
    Accept(peer, c.reply);
    CmdRun r = RunCmd(peer, m_iStsChk);
    EXPECT_EQ(r.wire, (Lines{"02 59 03 5A", "06"}));
    EXPECT_EQ(r.iRet, c.ret);
    EXPECT_EQ(r.log, c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, StatusReply,
    ::testing::Values(
        StatusCase{"NoCardCoverOpen", Status('0', '1'), -4,
                   {"ステータスチェック開始", "ステータスチェック成功", "カードを挿入してください", "カバ－が開いています"}},
        StatusCase{"CardWaiting", Status('2', '0'), -3,
                   {"ステータスチェック開始", "ステータスチェック成功", "発行機に抜き取り待ちのカ－ドがあります"}},
        StatusCase{"CardReady", Status('1', '0'), 0, {"ステータスチェック開始", "ステータスチェック成功"}},
        StatusCase{"Exactly17Bytes", Status('1', '0', 17), 0, {"ステータスチェック開始", "ステータスチェック成功"}},
        // Sixteen bytes stop short of the cover: not a status at all.
        StatusCase{"ShortReply", Status('1', '0', 16), -1, {"ステータスチェック開始", "× ステータスチェック失敗"}},
        StatusCase{"OneByteReply", "\x06", -1, {"ステータスチェック開始", "× ステータスチェック失敗"}}),
    [](const ::testing::TestParamInfo<StatusCase> &i) { return std::string(i.param.name); });

struct Refusal {
    const char *name;
    std::function<int(int)> fn;
    int ret;
    Lines log;
};

void PrintTo(const Refusal &a_c, std::ostream *a_os) { *a_os << a_c.name; }

class DleAnswer : public ::testing::TestWithParam<Refusal> {};

TEST_P(DleAnswer, EndsTheCommandWithItsCode)
{
    const Refusal &c = GetParam();
    vt::Peer peer;
    Refuse(peer);
    CmdRun r = RunCmd(peer, c.fn);
    EXPECT_EQ(r.iRet, c.ret);
    EXPECT_EQ(r.log, c.log);
    EXPECT_EQ(r.wire.size(), 1u);  // one frame, no closing ACK, nothing after
}

INSTANTIATE_TEST_SUITE_P(
    Commands, DleAnswer,
    ::testing::Values(
        Refusal{"Status", m_iStsChk, -1, {"ステータスチェック開始", "× ステータスチェック失敗"}},
        Refusal{"Clear", m_iBufClear, -3, {"バッファクリア開始", "× バッファクリア失敗"}},
        Refusal{"CardPut", [](int s) { return m_iCardPut(Patient('0'), s); }, -3,
                {"カード出力開始", "　追記カード", "× カード出力失敗"}},
        // The record refused: the write-and-stand-by frame never follows.
        Refusal{"MagneticRecord", [](int s) { return m_iWrite(Patient(), s); }, -3, {"磁気書込開始", "× 磁気書込失敗"}}),
    [](const ::testing::TestParamInfo<Refusal> &i) { return std::string(i.param.name); });

TEST(MagneticWrite, RecordThenWriteAndStandBy)
{
    vt::Peer peer;
    Accept(peer);
    Accept(peer);
    CmdRun r = RunCmd(peer, [](int s) { return m_iWrite(Patient(), s); });
    EXPECT_EQ(r.iRet, 0);
    EXPECT_EQ(r.wire,
              (Lines{"02 39 20 20 20 20 20 31 32 33 34 35 0E 54 4F 40 5E 0F 20 0E 40 5B 33 0F 20 20 20 20 20 20 20 20 "
                     "20 20 20 20 31 39 37 30 30 31 30 31 31 1B 4B 3B 33 45 44 42 40 4F 3A 21 21 21 21 21 21 1B 48 "
                     "32 30 32 34 30 34 30 31 03 64",
                     "06", "02 31 32 03 00", "06"}));
    EXPECT_EQ(r.log, (Lines{"磁気書込開始", "磁気書込成功", "磁気書込＋待機開始", "磁気書込＋待機成功"}));
}

}  // namespace
