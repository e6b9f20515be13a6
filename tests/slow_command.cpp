// The printer commands against a scripted machine: each frame on the wire,
// byte for byte, and what each command makes of the answer; and the
// character set of the shipped example settings files on vestrun-sim's card.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "head.h"
#include "peer.h"
#include "sample_card.h"
#include "simproc.h"
#include "sock.h"
#include "testutil.h"

namespace {

using Lines = std::vector<std::string>;

using sample::Patient;
using sample::Wire;

struct Row {
    const char *name;
    std::function<int(int)> fn;
    std::string reply;  // the result reply
    int ret;
    Lines wire, log;
};

void PrintTo(const Row &a_c, std::ostream *a_os) { *a_os << a_c.name; }

class Command : public ::testing::TestWithParam<Row> {};

// The machine answers every frame with ACK and the row's result reply. Only
// the command's own log lines are compared, the link's traffic left out.
TEST_P(Command, FramesAndLog)
{
    static const char *const kLink[] = {"送信サイズ=", "送信成功", "受信サイズ=", "受信結果=", "<ACK>受信", "イメージ送信成功"};
    const Row &c = GetParam();
    vt::Peer peer;
    for (const auto &unit : c.wire) {
        if (unit != "06") peer.ExpectFrame().Send(vt::Peer::Answer(SCK_ACK)).Send(c.reply).ExpectFrame();
    }
    ASSERT_TRUE(peer.Start());
    const int iSock = peer.Connect();
    vt::CaptureFd cap(1);
    EXPECT_EQ(c.fn(iSock), c.ret);
    Lines log, wire;
    for (const auto &s : vt::LogMessages(cap.Finish())) {
        bool bLink = false;
        for (const char *p : kLink) bLink = bLink || s.compare(0, strlen(p), p) == 0;
        if (!bLink) log.push_back(s);
    }
    peer.Stop();
    close(iSock);
    EXPECT_EQ(peer.Errors(), Lines{});
    for (const auto &f : peer.Frames()) wire.push_back(vt::ToHex(f.bytes));
    EXPECT_EQ(wire, c.wire);
    EXPECT_EQ(log, c.log);
}

// A status reply: byte 12 the card, byte 16 the cover.
std::string Status(char a_cCard, char a_cCover, size_t a_iLen)
{
    std::string s(17, '0');
    s[12] = a_cCard;
    s[16] = a_cCover;
    return s.substr(0, a_iLen);
}

// A picture in column form, for the whole-image commands.
std::function<int(int)> Picture(uint32_t a_w, uint32_t a_h, unsigned char a_cFirst, int (*a_fn)(T_PAT_INF, int))
{
    return [=](int s) {
        std::vector<unsigned char> data(a_w * ((a_h + 7) / 8), 0);
        data[0] = a_cFirst;
        T_PAT_INF p = Patient();
        p.stImg = {a_h, a_w, 1, data.data()};
        return a_fn(p, s);
    };
}

const Lines kClear = {"バッファクリア開始", "バッファクリア成功"};
const Lines kLed = {"LED設定開始", "LED設定成功"};
const Lines kStsOk = {"ステータスチェック開始", "ステータスチェック成功"};
const Lines kStsFail = {"ステータスチェック開始", "× ステータスチェック失敗"};
const Lines kStsWire = {sample::kStatus, "06"};
const Lines kImageLog = {"外部イメージ展開開始", "外部イメージ展開成功"};
const std::string R = std::string(20, 'R');

INSTANTIATE_TEST_SUITE_P(
    Commands, Command,
    ::testing::Values(
        Row{"ClearAll", m_iBufClearAll, R, 0, {sample::kClearAll, "06"}, kClear},
        Row{"Clear", m_iBufClear, R, 0, {"02 40 03 43", "06"}, kClear},
        Row{"LedOn", [](int s) { return m_iLEDSet(s, 1); }, R, 0, {sample::kLedOn, "06"}, kLed},
        Row{"LedOff", [](int s) { return m_iLEDSet(s, 0); }, R, 0, {sample::kLedOff, "06"}, kLed},
        Row{"Reset", m_iPrtReset, R, 0, {sample::kReset, "06"}, {"プリンターリセット", "プリンターリセット成功"}},
        Row{"AppendCard", [](int s) { return m_iCardPut(Patient('0'), s); }, R, 0, {sample::kAppend, "06"},
            {"カード出力開始", "　追記カード", "カード出力成功"}},
        Row{"Rewrite", [](int s) { return m_iCardPut(Patient('1'), s); }, R, 0, {sample::kRewrite, "06"},
            {"カード出力開始", "　リライト", "カード出力成功"}},
        Row{"MagneticWriteThenStandBy", [](int s) { return m_iWrite(Patient(), s); }, R, 0,
            {sample::Record(), "06", sample::kWriteStandby, "06"}, {"磁気書込開始", "磁気書込成功", "磁気書込＋待機開始", "磁気書込＋待機成功"}},
        // The status: byte 12 the card, byte 16 the cover; a reply too short
        // to hold both is no status.
        Row{"StatusNoCardCoverOpen", m_iStsChk, Status('0', '1', 17), -4, kStsWire,
            {"ステータスチェック開始", "ステータスチェック成功", "カードを挿入してください", "カバ－が開いています"}},
        Row{"StatusCardWaiting", m_iStsChk, Status('2', '0', 17), -3, kStsWire,
            {"ステータスチェック開始", "ステータスチェック成功", "発行機に抜き取り待ちのカ－ドがあります"}},
        Row{"StatusCardReady", m_iStsChk, Status('1', '0', 17), 0, kStsWire, kStsOk},
        Row{"StatusShortReply", m_iStsChk, Status('1', '0', 16), -1, kStsWire, kStsFail},
        // Whole pictures: one "C" frame a column, "M" frames of whole columns.
        Row{"ImageLThreeColumns", Picture(3, 16, 0, m_iImageLSet), R, 0,
            {Wire("C0,0,0000"), "06", Wire("C1,0,0000"), "06", Wire("C2,0,0000"), "06"}, kImageLog},
        Row{"ImageBOneColumnOfEightRows", Picture(1, 8, 0x81, m_iImageBSet), R, 0, {Wire("M0,0,1,18"), "06"},
            kImageLog}),
    [](const ::testing::TestParamInfo<Row> &i) { return std::string(i.param.name); });

// The shipped example settings files lay out a real card: the stand-in keeps
// the text decoded beside the stripe.
TEST(SimCard, ExampleLayoutReachesTheCard)
{
    vt::TempDir out, work;
    const std::string src = std::string(VESTRUN_SOURCE_DIR) + "/examples/";
    for (const char *name : {"printstyle.txt", "printsetting.txt"}) {
        vt::WriteFile(work.file(name), vt::ReadFile(src + name));
    }
    vt::SimProcess sim;
    ASSERT_TRUE(sim.Start({"--out", out.path(), "--once"})) << sim.Stderr();

    const T_PAT_INF p = Patient();
    char *cwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(work.path().c_str()), 0);
    vt::CaptureFd cap(1);
    int sock = -1;
    const int open = SCK_iOpen(&sock, "127.0.0.1", sim.port());
    const int charset = open == 0 ? m_iCharSet(p, sock) : -100;
    const int write = open == 0 ? m_iWrite(p, sock) : -100;
    const int put = open == 0 ? m_iCardPut(p, sock) : -100;
    if (open == 0) SCK_iClose(sock);
    cap.Finish();
    EXPECT_EQ(chdir(cwd), 0);
    free(cwd);
    EXPECT_EQ(open, 0);
    EXPECT_EQ(charset, 0);
    EXPECT_EQ(write, 0);
    EXPECT_EQ(put, 0);
    EXPECT_EQ(sim.Wait(10000), 0) << sim.Stderr();

    const std::string card = out.file("card-0001/");
    EXPECT_EQ(vt::ReadFile(card + "charset.txt"),
              u8"head: 0,40,40,\ntext: K12345\nx: 040\ny: 100\ntext: K山田太郎\nx: 040\ny: 160\n"
              u8"text: K昭和45年 1月 1日\nx: 320\ny: 160\ntext: K男性\nx: 040\ny: 070\ntext: Kヤマダ　タロウ\n");
    const std::string text = vt::ReadFile(card + "card.txt");
    EXPECT_NE(text.find(u8"output: append\n"), std::string::npos) << text;
    EXPECT_NE(text.find(u8"kanji_name: 山田太郎\n"), std::string::npos) << text;
}

}  // namespace
