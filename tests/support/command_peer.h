// One printer command run against the scripted peer: what went on the wire,
// what the command logged, what it returned.
#ifndef VESTRUN_COMMAND_PEER_H
#define VESTRUN_COMMAND_PEER_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "head.h"
#include "peer.h"
#include "sample_card.h"
#include "sock.h"
#include "testutil.h"

namespace cmdtest {

using Lines = std::vector<std::string>;

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

}  // namespace cmdtest

#endif
