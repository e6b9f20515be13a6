// Running one printer command against the scripted peer: what went on the
// wire, what the command logged, what it returned.
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

// The machine's part of one accepted exchange: frame in, ACK answer, result
// reply, closing ACK in.
inline void Accept(vt::Peer &a_peer, const std::string &a_sResult = std::string(20, 'R'))
{
    a_peer.ExpectFrame().Send(vt::Peer::Answer(SCK_ACK)).Send(a_sResult).ExpectBytes(1);
}

// The same, refused with DLE at once.
inline void Refuse(vt::Peer &a_peer) { a_peer.ExpectFrame().Send(vt::Peer::Answer(SCK_DLE)); }

struct CmdRun {
    int iRet = 0;
    Lines log;                 // the command's own lines, the link's traffic left out
    std::vector<std::string> wire;  // frames and lone bytes received, in hex
};

inline bool bLinkLine(const std::string &a_s)
{
    static const char *const kLink[] = {"送信サイズ=", "送信成功", "受信サイズ=", "受信結果=", "<ACK>受信", "イメージ送信成功"};
    for (const char *p : kLink) {
        if (a_s.compare(0, strlen(p), p) == 0) {
            return true;
        }
    }
    return false;
}

inline CmdRun RunCmd(vt::Peer &a_peer, const std::function<int(int)> &a_fn)
{
    CmdRun r;
    EXPECT_TRUE(a_peer.Start());
    int iSock = a_peer.Connect();
    EXPECT_GE(iSock, 0);
    vt::CaptureFd cap(1);
    r.iRet = a_fn(iSock);
    for (const auto &s : vt::LogMessages(cap.Finish())) {
        if (!bLinkLine(s)) {
            r.log.push_back(s);
        }
    }
    a_peer.WaitDone(2000);
    a_peer.Stop();
    close(iSock);
    EXPECT_TRUE(a_peer.Errors().empty()) << (a_peer.Errors().empty() ? "" : a_peer.Errors()[0]);
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
