// The sample patient, and one printer command run against the scripted peer:
// what went on the wire, what the command logged, what it returned.
#ifndef VESTRUN_SLOW_COMMAND_H
#define VESTRUN_SLOW_COMMAND_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "head.h"
#include "peer.h"
#include "sock.h"
#include "testutil.h"

namespace cmdtest {

using Lines = std::vector<std::string>;

// 12345, ヤマダ　タロウ, 19700101, sex 1, 山田太郎, first visit 20240401.
inline T_PAT_INF Patient(char a_cStyFlg = '0')
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
    strcpy(p.szNameKanaZen, "ヤマダ　タロウ");
    return p;
}

// The machine's part of one accepted exchange: frame in, ACK answer, result
// reply, closing ACK in.
inline void Accept(vt::Peer &a_peer, const std::string &a_sResult = std::string(20, 'R'))
{
    a_peer.ExpectFrame().Send(vt::Peer::Answer(SCK_ACK)).Send(a_sResult).ExpectFrame();
}

struct CmdRun {
    int iRet = 0;
    Lines log;   // the command's own lines, the link's traffic left out
    Lines wire;  // frames and lone bytes received, in hex
};

inline CmdRun RunCmd(vt::Peer &a_peer, const std::function<int(int)> &a_fn)
{
    static const char *const kLink[] = {"送信サイズ=", "送信成功", "受信サイズ=", "受信結果=", "<ACK>受信", "イメージ送信成功"};
    CmdRun r;
    EXPECT_TRUE(a_peer.Start());
    int iSock = a_peer.Connect();
    vt::CaptureFd cap(1);
    r.iRet = a_fn(iSock);
    for (const auto &s : vt::LogMessages(cap.Finish())) {
        bool bLink = false;
        for (const char *p : kLink) {
            bLink = bLink || s.compare(0, strlen(p), p) == 0;
        }
        if (!bLink) {
            r.log.push_back(s);
        }
    }
    a_peer.Stop();
    close(iSock);
    EXPECT_EQ(a_peer.Errors(), Lines{});
    for (const auto &f : a_peer.Frames()) {
        r.wire.push_back(vt::ToHex(f.bytes));
    }
    return r;
}

// The hex of a frame from STX through ETX with its block check.
inline std::string Wire(const std::string &a_sBody)
{
    std::string f = "\x02" + a_sBody + "\x03";
    f.push_back('\0');
    SCK_iSetBcc(&f[0], static_cast<int>(f.size()) - 1);
    return vt::ToHex(f);
}

}  // namespace cmdtest

#endif
