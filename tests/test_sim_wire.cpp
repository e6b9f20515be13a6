// vestrun-sim as a program: a plain socket client drives the real binary and
// looks at the bytes on the wire, the status it reports, the faults it plays
// and the cards it keeps. The client sets the pace, so every case is quick.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bitmap.h"
#include "simproc.h"
#include "testutil.h"

namespace {

constexpr char kStx = 0x02, kEtx = 0x03, kAck = 0x06, kDle = 0x10, kNak = 0x15;

long long NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The frame as the tool puts it on the wire; the block check is worked out
// here, apart from the code under test.
std::string Frame(const std::string &body)
{
    std::string f = std::string(1, kStx) + body + kEtx;
    char bcc = 0;
    for (size_t i = 1; i < f.size(); i++) {
        bcc ^= f[i];
    }
    return f + bcc;
}

class Client {
public:
    ~Client() { Close(); }
    bool Connect(int port)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return connect(fd_, reinterpret_cast<struct sockaddr *>(&a), sizeof a) == 0;
    }
    void Close()
    {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    bool Send(const std::string &bytes)
    {
        return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // Reads until n bytes have come or timeout_ms has passed.
    std::string Read(size_t n, int timeout_ms, int *reads = nullptr)
    {
        std::string got;
        const long long deadline = NowMs() + timeout_ms;
        while (got.size() < n) {
            const long long left = deadline - NowMs();
            if (left <= 0) {
                break;
            }
            struct pollfd p = {fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) {
                break;
            }
            char buf[4096];
            const ssize_t r = recv(fd_, buf, std::min(sizeof buf, n - got.size()), 0);
            if (r <= 0) {
                closed_ = true;
                break;
            }
            got.append(buf, static_cast<size_t>(r));
            if (reads) {
                ++*reads;
            }
        }
        return got;
    }
    // True when the stand-in has closed the line within timeout_ms.
    bool ClosedWithin(int timeout_ms)
    {
        while (!closed_) {
            std::string more = Read(4096, timeout_ms);
            if (more.empty() && !closed_) {
                return false;
            }
        }
        return true;
    }
    // One whole command exchange: frame, first reply, result, closing ACK.
    // Returns the result reply ("" when the first reply was no ACK).
    std::string Exchange(const std::string &body, char *code = nullptr)
    {
        Send(Frame(body));
        const std::string first = Read(10, 2000);
        if (code) {
            *code = first.size() == 10 ? first[9] : 0;
        }
        if (first.size() != 10 || first[9] != kAck) {
            return "";
        }
        const std::string result = Read(20, 2000);
        Send(std::string(1, kAck));
        return result;
    }

private:
    int fd_ = -1;
    bool closed_ = false;
};

struct Sim {
    vt::TempDir dir;
    vt::SimProcess proc;
    Client client;
    bool Start(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--out", dir.file("cards"), "--frames", dir.file("frames.txt")});
        return proc.Start(args) && client.Connect(proc.port());
    }
    std::string Card(int n, const std::string &file) const
    {
        char name[32];
        snprintf(name, sizeof name, "/card-%04d/", n);
        return vt::ReadFile(dir.file("cards") + name + file);
    }
};

#define START(sim, ...) ASSERT_TRUE((sim).Start(__VA_ARGS__)) << (sim).proc.Stderr()

TEST(SimWire, FirstLineNamesTheRealPortAndSigtermEndsCleanly)
{
    vt::SimProcess proc;
    ASSERT_TRUE(proc.Start({}));
    EXPECT_GT(proc.port(), 0);
    EXPECT_NE(proc.port(), 9100);
    EXPECT_EQ(proc.Stop(), 0);
}


// ---- the block check and the answer codes -------------------------------------

TEST(SimWire, FrameWithBadBlockCheckOrNoLetterGetsNakAndLeavesTheMachineAlone)
{
    Sim sim;
    START(sim, {"--card-after", "2"});
    const std::vector<std::string> bad = {
        Frame("Y").substr(0, 3) + '\x5B',   // 02 59 03 5B
        Frame("Z412").substr(0, 6) + '\x00',
        std::string("\x02\x03\x00", 3),   // no letter
    };
    for (const std::string &frame : bad) {
        ASSERT_TRUE(sim.client.Send(frame));
        const std::string first = sim.client.Read(10, 2000);
        ASSERT_EQ(first.size(), 10u) << vt::ToHex(frame);
        EXPECT_EQ(first[9], kNak) << vt::ToHex(frame);
        EXPECT_EQ(sim.client.Read(1, 150), "") << "no result reply after NAK";
    }
    // The NAKed status request was not counted: the first good one finds no card yet.
    EXPECT_EQ(sim.client.Exchange("Y").substr(12, 1), "0");
    EXPECT_EQ(sim.client.Exchange("Y").substr(12, 1), "1");
}

// ---- the operator: card and cover at bytes 12 and 16 --------------------------

TEST(SimWire, StatusReportsTheOperatorsCardAndCover)
{
    struct Case {
        std::vector<std::string> options;
        std::string cards;   // byte 12 of each status reply in turn
        std::string covers;  // byte 16
    };
    const std::vector<Case> cases = {
        {{}, "111", "000"},
        {{"--card-after", "3"}, "0011", "0000"},
        {{"--card-waiting", "2"}, "2211", "0000"},
        {{"--card-waiting", "1", "--card-after", "3"}, "2011", "0000"},
        {{"--cover-open", "2"}, "111", "110"},
        {{"--card-after", "2", "--cover-open", "1"}, "011", "100"},
    };
    for (const Case &c : cases) {
        Sim sim;
        START(sim, c.options);
        std::string cards, covers;
        for (size_t i = 0; i < c.cards.size(); i++) {
            const std::string status = sim.client.Exchange("Y");
            ASSERT_GE(status.size(), 17u);
            cards += status[12];
            covers += status[16];
        }
        EXPECT_EQ(cards, c.cards) << c.options.size();
        EXPECT_EQ(covers, c.covers) << c.options.size();
    }
}

// ---- the picture buffer ---------------------------------------------------

// Ink of the kept picture as (x, y) pairs, read back with the library's reader.
std::vector<std::pair<int, int>> InkOf(const std::string &path, int *width = nullptr, int *height = nullptr)
{
    HeaderInfo h = {nullptr, nullptr, nullptr};
    Image img = {0, 0, 0, nullptr};
    std::vector<std::pair<int, int>> ink;
    if (ReadBmp(path.c_str(), &h, &img) != 0) {
        ADD_FAILURE() << "unreadable " << path;
        return ink;
    }
    EXPECT_EQ(img.bitCnt, 1u);
    const int row_bytes = static_cast<int>((img.width + 7) / 8);
    for (uint32_t y = 0; y < img.height; y++) {
        for (uint32_t x = 0; x < img.width; x++) {
            if (img.data[y * row_bytes + x / 8] & (0x80 >> (x % 8))) {
                ink.emplace_back(static_cast<int>(x), static_cast<int>(y));
            }
        }
    }
    if (width) {
        *width = static_cast<int>(img.width);
    }
    if (height) {
        *height = static_cast<int>(img.height);
    }
    // Index 0 is white and 1 is ink.
    EXPECT_EQ(vt::ToHex(std::string(reinterpret_cast<char *>(h.clrPallet), 8)), "FF FF FF 00 00 00 00 00");
    FreeImage(&img);
    FreeHeader(&h);
    return ink;
}

TEST(SimWire, ImageFramesLandInTheirColumnsAndByteRows)
{
    using Ink = std::vector<std::pair<int, int>>;
    struct Case {
        std::vector<std::string> frames;
        Ink ink;
    };
    const std::vector<Case> cases = {
        // Byte 3 of column 5 is 0x81: pixel rows 24 and 31. Text low nibble first.
        {{"M5,3,2,18000000"}, {{5, 24}, {5, 31}}},
        // Two columns of one byte each; the second column's byte 0x10 is row 8*7+4.
        {{"M100,7,1,0001"}, {{101, 60}}},
        // A "C" frame carries a whole column from the top.
        {{"C2,0,1000"}, {{2, 0}}},
        // A later frame overwrites the bytes it carries, and only those.
        {{"M0,0,1,F0", "M0,0,1,10"}, {{0, 0}}},
        // The bottom-right corner of the default 480 x 512 buffer.
        {{"M479,63,1,08"}, {{479, 511}}},
        // "I" and "@" clear the buffer; "_" too.
        {{"M5,3,2,18000000", "I"}, {}},
        {{"M5,3,2,18000000", "@"}, {}},
        {{"M5,3,2,18000000", "_"}, {}},
    };
    for (const Case &c : cases) {
        Sim sim;
        START(sim, {});
        for (const std::string &f : c.frames) {
            ASSERT_NE(sim.client.Exchange(f), "") << f;
        }
        ASSERT_NE(sim.client.Exchange("G1"), "");
        int w = 0, h = 0;
        EXPECT_EQ(InkOf(sim.dir.file("cards/card-0001/picture.bmp"), &w, &h), c.ink) << c.frames[0];
        EXPECT_EQ(w, 480);
        EXPECT_EQ(h, 512);
    }
}

TEST(SimWire, SizeOptionSetsThePictureBuffer)
{
    Sim sim;
    START(sim, {"--size", "20x10"});
    ASSERT_NE(sim.client.Exchange("M19,1,1,30"), "");  // 0x03: rows 8 and 9
    char code = 0;
    sim.client.Exchange("M0,2,1,00", &code);
    EXPECT_EQ(code, kDle);  // only 2 byte-rows
    ASSERT_NE(sim.client.Exchange("F1"), "");
    int w = 0, h = 0;
    const std::vector<std::pair<int, int>> ink = {{19, 8}, {19, 9}};
    EXPECT_EQ(InkOf(sim.dir.file("cards/card-0001/picture.bmp"), &w, &h), ink);
    EXPECT_EQ(w, 20);
    EXPECT_EQ(h, 10);
}

// ---- the stripe and the card folder -------------------------------------------

// The sample patient's magnetic record: 12345, ヤマダ　タロウ, 19700101,
// 1, 山田太郎, 20240401.
const char kRecordHex[] =
    "20 20 20 20 20 31 32 33 34 35 0E 54 4F 40 5E 0F 20 0E 40 5B 33 0F 20 20 20 20 20 20 20 20 20 20 20 20 "
    "31 39 37 30 30 31 30 31 31 1B 4B 3B 33 45 44 42 40 4F 3A 21 21 21 21 21 21 1B 48 32 30 32 34 30 34 30 31";

TEST(SimWire, KeptCardHoldsTheDecodedStripeAndTheRawRecord)
{
    Sim sim;
    START(sim, {});
    const std::string record = vt::Hex(kRecordHex);
    ASSERT_EQ(record.size(), 69u);
    ASSERT_NE(sim.client.Exchange("9" + record), "");
    ASSERT_NE(sim.client.Exchange("12"), "");
    ASSERT_NE(sim.client.Exchange("G1"), "");
    EXPECT_EQ(sim.Card(1, "card.txt"), u8"output: append\n"
                                       u8"patient_number: 12345\n"
                                       u8"kana_name: ヤマダ タロウ\n"
                                       u8"birth_date: 19700101\n"
                                       u8"sex: 1\n"
                                       u8"kanji_name: 山田太郎\n"
                                       u8"first_visit: 20240401\n");
    EXPECT_EQ(sim.Card(1, "stripe.bin"), record);
    EXPECT_EQ(sim.Card(1, "charset.txt"), "");
}

TEST(SimWire, RecordNeverWrittenLeavesTheCardWithoutStripe)
{
    Sim sim;
    START(sim, {});
    ASSERT_NE(sim.client.Exchange("9" + vt::Hex(kRecordHex)), "");
    ASSERT_NE(sim.client.Exchange("F1"), "");  // no "12": the stripe stays blank
    EXPECT_EQ(sim.Card(1, "card.txt"), "output: rewrite\npatient_number:\nkana_name:\nbirth_date:\nsex:\n"
                                       "kanji_name:\nfirst_visit:\n");
    EXPECT_FALSE(vt::ReadFile(sim.dir.file("cards/card-0001/stripe.bin")).size());
}

TEST(SimWire, CharacterSetFrameIsKeptAsText)
{
    Sim sim;
    START(sim, {});
    // A layout of three lines: head "0", then 10,20,K with the number, then
    // position 100,50 and K with 漢字 in Shift_JIS.
    const std::string params = vt::Hex("30 2C 31 30 2C 32 30 2C 1B 45 4B 31 32 33 34 35 1B 58 31 30 30 1B 59 30 35 "
                                       "30 1B 45 4B 8A BF 8E 9A");
    ASSERT_NE(sim.client.Exchange("A" + params), "");
    ASSERT_NE(sim.client.Exchange("G1"), "");
    EXPECT_EQ(sim.Card(1, "charset.txt"), u8"head: 0,10,20,\ntext: K12345\nx: 100\ny: 050\ntext: K漢字\n");
}

// ---- the wire record ----------------------------------------------------------

TEST(SimWire, FramesFileHoldsEveryFrameAndClosingAckByteForByte)
{
    Sim sim;
    START(sim, {"--fault", "Y:nak"});
    sim.client.Send(Frame("Y"));  // NAKed: recorded all the same
    ASSERT_EQ(sim.client.Read(10, 2000).size(), 10u);
    ASSERT_NE(sim.client.Exchange("Y"), "");
    ASSERT_NE(sim.client.Exchange("Z412"), "");
    sim.client.Send(std::string("\x02\x59\x03\x00", 4));  // bad block check
    sim.client.Read(10, 2000);
    sim.client.Close();
    EXPECT_EQ(sim.proc.Stop(), 0);
    EXPECT_EQ(vt::ReadFile(sim.dir.file("frames.txt")), "02 59 03 5A\n02 59 03 5A\n06\n02 5A 34 31 32 03 6E\n06\n"
                                                         "02 59 03 00\n");
}

// ---- faults ---------------------------------------------------------------

struct Reply {
    std::string first;    // what came within the first-reply read
    std::string result;   // what came after it
    bool closed = false;
    long long result_ms = 0;  // from the frame to the end of the result
};

// Sends body and gathers what the stand-in answers within the given time.
Reply Collect(Client *c, const std::string &body, size_t result_len, int wait_ms = 400)
{
    Reply r;
    const long long t0 = NowMs();
    c->Send(Frame(body));
    r.first = c->Read(10, wait_ms);
    // Nothing is due after a refusal; a short look shows that nothing comes.
    const bool ack = r.first.size() == 10 && r.first[9] == kAck;
    r.result = c->Read(result_len, ack ? wait_ms : 150);
    r.result_ms = NowMs() - t0;
    if (r.first.size() == 10 && r.first[9] == kAck && !r.result.empty()) {
        c->Send(std::string(1, kAck));
    }
    return r;
}

TEST(SimWire, EachFaultAnswersAsItSays)
{
    struct Case {
        std::string rule;
        size_t first_len;
        char code;          // tenth byte of the first reply; 0: not checked
        size_t result_len;  // bytes after the first reply
    };
    const std::vector<Case> cases = {
        {"Y:nak", 10, kNak, 0},        {"Y:nak-always", 10, kNak, 0}, {"Y:dle", 10, kDle, 0},
        {"Y:silence", 0, 0, 0},        {"Y:short", 1, 0, 0},          {"Y:no-result", 10, kAck, 0},
        {"Y:short-result", 10, kAck, 8}, {"Y:oversize", 10, kAck, 1000},
    };
    for (const Case &c : cases) {
        Sim sim;
        START(sim, {"--fault", c.rule});
        const Reply r = Collect(&sim.client, "Y", 2000);
        EXPECT_EQ(r.first.size(), c.first_len) << c.rule;
        if (c.code && r.first.size() == 10) {
            EXPECT_EQ(r.first[9], c.code) << c.rule;
        }
        if (c.rule == "Y:short") {
            EXPECT_EQ(r.first, "\x06");
        }
        EXPECT_EQ(r.result.size(), c.result_len) << c.rule;
        if (c.result_len == 1000) {
            EXPECT_EQ(r.result[12], '1') << "the status leads the oversized reply";
        }
    }
}

TEST(SimWire, SlowFaultHoldsTheResultBack)
{
    Sim sim;
    START(sim, {"--fault", "Y#*:slow=300"});
    for (int i = 0; i < 2; i++) {
        const Reply r = Collect(&sim.client, "Y", 20, 2000);
        ASSERT_EQ(r.first.size(), 10u);
        EXPECT_EQ(r.first[9], kAck);
        EXPECT_EQ(r.result.size(), 20u);
        EXPECT_GE(r.result_ms, 290);
    }
}

TEST(SimWire, CloseFaultDropsTheLineAndTheNextConnectionIsServed)
{
    Sim sim;
    START(sim, {"--fault", "M#2:close"});
    EXPECT_NE(sim.client.Exchange("M0,0,1,00"), "");
    sim.client.Send(Frame("M1,0,1,00"));
    EXPECT_TRUE(sim.client.ClosedWithin(2000));
    Client again;
    ASSERT_TRUE(again.Connect(sim.proc.port()));
    // Counts start again: the second image frame of this run is dropped too.
    EXPECT_NE(again.Exchange("M0,0,1,00"), "");
    again.Send(Frame("M1,0,1,00"));
    EXPECT_TRUE(again.ClosedWithin(2000));
}

TEST(SimWire, GarbageFaultNeverAnswersWithACode)
{
    Sim sim;
    START(sim, {"--fault", "Y:garbage", "--seed", "7"});
    for (int i = 0; i < 10; i++) {
        sim.client.Send(Frame("Y"));
        const std::string first = sim.client.Read(10, 2000);
        ASSERT_EQ(first.size(), 10u);
        EXPECT_NE(first[9], kAck);
        EXPECT_NE(first[9], kNak);
        EXPECT_NE(first[9], kDle);
        sim.client.Read(256, 50);  // the random result reply
    }
}

TEST(SimWire, SplitFaultSendsTheRepliesInPieces)
{
    Sim sim;
    START(sim, {"--fault", "Y:split"});
    sim.client.Send(Frame("Y"));
    int reads = 0;
    const std::string all = sim.client.Read(30, 3000, &reads);
    ASSERT_EQ(all.size(), 30u);
    EXPECT_EQ(all[9], kAck);
    EXPECT_EQ(all[10 + 12], '1');
    EXPECT_GT(reads, 3);
}

TEST(SimWire, RulesPickTheirReceipts)
{
    struct Case {
        std::string rule;
        std::vector<std::string> frames;
        std::string codes;  // A for ACK, N for NAK, D for DLE, - for nothing
    };
    const std::vector<Case> cases = {
        {"Y#2:dle", {"Y", "Y", "Y"}, "ADA"},
        {"Y#*:dle", {"Y", "Y", "Y"}, "DDD"},
        {"Y:nak", {"Y", "Y", "Y"}, "NAA"},
        {"Y:nak-always", {"Y", "Y", "Y"}, "NNN"},
        {"Y#2:nak-always", {"Y", "Y", "Y"}, "ANA"},
        {"Z010:dle", {"Z412", "Z010", "Z412"}, "ADA"},
        {"12:silence", {"Z412", "12"}, "A-"},
        {"*:dle", {"I", "Z412"}, "DA"},
        {"*#*:nak", {"I", "Z412"}, "NN"},
        {"F1:dle", {"G1", "F1"}, "AD"},
    };
    for (const Case &c : cases) {
        Sim sim;
        START(sim, {"--fault", c.rule});
        std::string codes;
        for (const std::string &f : c.frames) {
            const Reply r = Collect(&sim.client, f, 20, 300);
            codes += r.first.size() < 10 ? '-' : r.first[9] == kAck ? 'A' : r.first[9] == kNak ? 'N' : 'D';
        }
        EXPECT_EQ(codes, c.codes) << c.rule;
    }
}

TEST(SimWire, GreetingComesBeforeAnyFrameAndHoldsNoAnswerCode)
{
    Sim sim;
    START(sim, {"--greeting", "5000"});
    const std::string greeting = sim.client.Read(5000, 3000);
    ASSERT_EQ(greeting.size(), 5000u);
    EXPECT_EQ(greeting.find_first_of(std::string("\x06\x10\x15", 3)), std::string::npos);
    EXPECT_EQ(sim.client.Read(1, 100), "");
    EXPECT_NE(sim.client.Exchange("Y"), "");
}

// ---- a hostile or broken client -------------------------------------------------

TEST(SimWire, SurvivesGarbageOverlongFramesAndClientsThatVanish)
{
    Sim sim;
    START(sim, {});
    // Stray bytes, then an overlong frame that never ends, then a good frame.
    std::string flood = std::string(3000, '\x7F') + '\x02' + std::string(100000, 'A');
    ASSERT_TRUE(sim.client.Send(flood));
    EXPECT_NE(sim.client.Exchange("Y"), "");
    // A frame in one-byte pieces is a frame all the same.
    for (char b : Frame("Z412")) {
        sim.client.Send(std::string(1, b));
    }
    const std::string first = sim.client.Read(10, 2000);
    ASSERT_EQ(first.size(), 10u);
    EXPECT_EQ(first[9], kAck);
    sim.client.Read(20, 2000);
    // Gone in the middle of a frame.
    sim.client.Send(std::string("\x02M0,0,1,", 8));
    sim.client.Close();
    // Gone while a reply is being sent.
    {
        Client c;
        ASSERT_TRUE(c.Connect(sim.proc.port()));
        c.Send(Frame("Y"));
    }
    for (int i = 0; i < 3; i++) {
        Client c;
        ASSERT_TRUE(c.Connect(sim.proc.port()));
        EXPECT_NE(c.Exchange("Y"), "") << i;
    }
    EXPECT_EQ(sim.proc.Stop(), 0);
    EXPECT_NE(sim.proc.Stderr().find("frame longer than 4096 bytes dropped"), std::string::npos);
}

TEST(SimWire, ClientThatNeverReadsIsDroppedNotBuffered)
{
    Sim sim;
    START(sim, {"--fault", "*:oversize"});
    // Thousands of frames whose 1000-byte replies are never read.
    std::string many;
    for (int i = 0; i < 200; i++) {
        many += Frame("Y");
    }
    for (int round = 0; round < 100 && sim.client.Send(many); round++) {
    }
    sim.client.Close();
    Client next;
    ASSERT_TRUE(next.Connect(sim.proc.port()));
    // The stand-in may still be working through the flood when the next
    // client comes; the wait is only a bound, the answer ends it.
    const Reply r = Collect(&next, "Y", 1000, 30000);
    EXPECT_EQ(r.result.size(), 1000u);
    EXPECT_NE(sim.proc.Stderr().find("does not read its replies"), std::string::npos);
}

// ---- the program ------------------------------------------------------------

TEST(SimWire, OnceEndsAfterTheFirstConnection)
{
    vt::SimProcess proc;
    ASSERT_TRUE(proc.Start({"--once"}));
    {
        Client c;
        ASSERT_TRUE(c.Connect(proc.port()));
        EXPECT_NE(c.Exchange("Y"), "");
    }
    EXPECT_EQ(proc.Wait(5000), 0);
}

TEST(SimWire, BadOptionsAreRefusedWithStatus2)
{
    // The values themselves are checked without a process; here, what the
    // program makes of a refusal.
    const std::vector<std::vector<std::string>> cases = {
        {"--listen", "127.0.0.1"}, {"--fault", "Y:boom"}, {"--bogus"}, {"--out"},
    };
    for (const auto &args : cases) {
        const vt::RunResult r = vt::RunProcess(VESTRUN_SIM_BIN, args, {}, 10000);
        EXPECT_EQ(r.exit_code, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_NE(r.err.find("usage: vestrun-sim"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
    const vt::RunResult help = vt::RunProcess(VESTRUN_SIM_BIN, {"--help"}, {}, 10000);
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("usage: vestrun-sim"), std::string::npos);
}

TEST(SimWire, RunProcessReportsStatusOutputAndTimeouts)
{
    const vt::RunResult ok = vt::RunProcess("/bin/sh", {"-c", "echo out; echo err >&2; echo $VT_X; exit 3"},
                                            {"VT_X=42"}, 10000);
    EXPECT_TRUE(ok.started);
    EXPECT_EQ(ok.exit_code, 3);
    EXPECT_EQ(ok.out, "out\n42\n");
    EXPECT_EQ(ok.err, "err\n");
    const long long t0 = NowMs();
    const vt::RunResult slow = vt::RunProcess("/bin/sh", {"-c", "exec sleep 30"}, {}, 300);
    EXPECT_TRUE(slow.timed_out);
    EXPECT_EQ(slow.term_signal, SIGKILL);
    EXPECT_LT(NowMs() - t0, 10000);
}

}  // namespace
