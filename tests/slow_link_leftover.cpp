// Bytes that wait on the line before a frame goes out (a reply that came
// after its exchange gave up, the rest of an oversized reply or of a long
// greeting) are never read as the answer to that frame. Read as one, they
// would put every later reply out of step for the rest of the run.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "head.h"
#include "peer.h"
#include "sock.h"
#include "testutil.h"

namespace {

using Lines = std::vector<std::string>;
using vt::RecvDump;
using vt::SendDump;

struct Outcome {
    int ret = 0;
    std::string rcv;
    Lines log;
    std::vector<std::string> frames;
};

// Starts the peer, waits until its first `a_iWaiting` bytes have come (the
// left-overs), then runs one exchange of `a_sFrame`.
Outcome RunAfterLeftovers(vt::Peer &a_tPeer, bool a_bImage, const std::string &a_sFrame, size_t a_iWaiting)
{
    Outcome r;
    EXPECT_TRUE(a_tPeer.Start());
    int iSock = a_tPeer.Connect();
    EXPECT_GE(iSock, 0);
    std::string cPeek(a_iWaiting, '\0');
    for (int i = 0; i < 250 && a_iWaiting > 0; i++) {
        if (recv(iSock, &cPeek[0], a_iWaiting, MSG_PEEK | MSG_DONTWAIT) == static_cast<ssize_t>(a_iWaiting)) {
            break;
        }
        usleep(20000);
    }
    std::vector<char> cBuf(a_sFrame.begin(), a_sFrame.end());
    cBuf.push_back(0);
    r.rcv.assign(256, '\xEE');
    int iLen = -7;
    vt::CaptureFd tCap(1);
    const int iSndLen = static_cast<int>(a_sFrame.size());
    r.ret = a_bImage ? SCK_iSendImage(iSock, cBuf.data(), iSndLen, &r.rcv[0], &iLen)
                     : SCK_iSendRecv(iSock, cBuf.data(), iSndLen, &r.rcv[0], &iLen);
    r.log = vt::LogMessages(tCap.Finish());
    a_tPeer.Stop();
    close(iSock);
    for (const auto &f : a_tPeer.Frames()) {
        r.frames.push_back(f.bytes);
    }
    EXPECT_TRUE(a_tPeer.Errors().empty());
    return r;
}

const std::string kStatus = "\x02Y\x03";
const std::string kStatusWire = "\x02Y\x03\x5A";
const std::string kAckAnswer = vt::Peer::Answer(SCK_ACK);
const std::string kResult = "000000000000100000000000";

// A late answer of an earlier exchange, 300 bytes of it (more than one read
// takes), is taken off and logged before the frame goes out; the exchange then
// reads the answer to its own frame.
TEST(Leftovers, CommandExchangeReadsTheAnswerToItsOwnFrame)
{
    std::string sOld = kAckAnswer + std::string(290, 'x');
    vt::Peer peer;
    peer.Send(sOld).ExpectFrame().Send(kAckAnswer).Send(kResult).ExpectFrame();
    Outcome r = RunAfterLeftovers(peer, false, kStatus, sOld.size());

    EXPECT_EQ(r.ret, 0);
    EXPECT_EQ(r.rcv.substr(0, kResult.size()), kResult);
    EXPECT_EQ(r.log, (Lines{RecvDump(256, sOld.substr(0, 256)), "受信結果=0", RecvDump(44, sOld.substr(256)),
                            "受信結果=0", SendDump(kStatusWire), "送信成功", RecvDump(10, kAckAnswer), "受信結果=0",
                            "<ACK>受信", RecvDump(24, kResult), "受信結果=0", "送信サイズ=  1 電文=[06 ]", "送信成功"}));
    EXPECT_EQ(r.frames, (Lines{kStatusWire, "\x06"}));
}

// A first reply followed by more bytes than the ten read: the second attempt
// reads its own answer, not the rest of the first.
TEST(Leftovers, SecondAttemptIsNotAnsweredByTheRestOfTheFirst)
{
    vt::Peer peer;
    peer.ExpectFrame()
        .Send(vt::Peer::Answer('?') + std::string(20, '\x06'))
        .ExpectFrame()
        .Send(kAckAnswer)
        .Send(kResult)
        .ExpectFrame();
    Outcome r = RunAfterLeftovers(peer, false, kStatus, 0);

    EXPECT_EQ(r.ret, 0);
    EXPECT_EQ(r.rcv.substr(0, kResult.size()), kResult);
    EXPECT_EQ(r.frames, (Lines{kStatusWire, kStatusWire, "\x06"}));
}

// The image exchange answers at once to whatever comes first: a stale ACK and
// result waiting on the line would be taken for the frame's own.
TEST(Leftovers, ImageExchangeTakesItsOwnAckAndResult)
{
    const std::string kImage = "\x02M0,3,1,81\x03";
    const std::string kImageWire = kImage + "\x59";
    std::string sOld = kAckAnswer + "OLD-RESULT";
    vt::Peer peer;
    peer.Send(sOld).ExpectFrame().Send(kAckAnswer).Send("NEW-RESULT").ExpectBytes(1);
    Outcome r = RunAfterLeftovers(peer, true, kImage, sOld.size());

    EXPECT_EQ(r.ret, 0);
    EXPECT_EQ(r.rcv, "NEW-RESULT" + std::string(246, '\0'));
    EXPECT_EQ(r.log, (Lines{RecvDump(20, sOld), "受信結果=0", "イメージ送信成功", "<ACK>受信", "送信サイズ=  1 電文=[06 ]",
                            "送信成功"}));
    EXPECT_EQ(r.frames, (Lines{kImageWire, "\x06"}));
}

}  // namespace
