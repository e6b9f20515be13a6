// The fault matrix: every frame of an issuing run under every fault the
// stand-in can play, run through the real printer commands and the real
// exchanges, over the fake line against the stand-in's machine model (its
// frame reader, fault rules and machine, without a socket or a clock). Each
// cell must end as the model below says: the outcome, every unit on the wire,
// and the card the machine kept. The grid goes into docs/fault-matrix.md:
// with VESTRUN_MATRIX_DOC=path the test writes the page there; without, it
// checks that the committed page holds what this build gives.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bmpfile.h"
#include "fakeline.h"
#include "frame.h"
#include "head.h"
#include "link.h"
#include "machine.h"
#include "picture.h"
#include "sample_card.h"
#include "sock.h"
#include "testutil.h"

namespace {

using Lines = std::vector<std::string>;

// ---- the machine: the stand-in's model played over the fake line ----

struct Modelled {
    SimMachine machine;
    std::vector<SimFaultRule> rules;
    SimFrameParser parser;
    std::mt19937 rng{7};
    vt::FakeLine line;
    bool card_out = false;
    SimCard card;

    explicit Modelled(const Lines &fault_rules)
    {
        SimMachineInit(&machine, 480, 512, SimOperator{});
        for (const std::string &text : fault_rules) {
            SimFaultRule r;
            std::string err;
            EXPECT_TRUE(SimFaultParse(text, &r, &err)) << text << ": " << err;
            rules.push_back(r);
        }
        line.on_unit = [this](vt::FakeLine &, const std::string &bytes) { Take(bytes); };
    }

    // What the stand-in's server does with a frame, on the fake clock.
    void Take(const std::string &bytes)
    {
        std::vector<SimUnit> units;
        SimFrameFeed(&parser, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), &units);
        for (const SimUnit &u : units) {
            if (u.eKind != SIM_UNIT_FRAME) continue;
            line.DropPending();
            long long last_due = line.LastDue();
            SimReply reply;
            const SimFault *fault = nullptr;
            int arg = 0;
            if (u.eCheck != SIM_FRAME_OK) {
                reply.cCode = SCK_NAK;
            } else {
                SimFaultRule *rule = SimFaultMatch(&rules, u.cLetter, u.cParams);
                fault = rule ? rule->tFault : nullptr;
                arg = rule ? rule->iArg : 0;
                if (SimFaultExecutes(fault)) {
                    SimOutcome out = SimMachineAnswer(&machine, u.cLetter, u.cParams);
                    if (out.bCardOut) card_out = true, card = out.tCard;
                    reply = out.tReply;
                }
            }
            for (const SimStep &step : SimPlan(u.cLetter, reply, fault, arg, &rng)) {
                long long due = line.now + step.iDelayMs * 1000LL;
                if (due < last_due) due = last_due;  // the wire keeps the order of the pieces
                last_due = due;
                if (step.bClose) {
                    if (line.close_at < 0) line.CloseAt(due);
                } else {
                    line.Deliver(step.cBytes, due, step.bKept);
                }
            }
        }
    }
};

// ---- the run: the issuing steps in their order, as the tool takes them ----

enum Outcome { kCard, kReset, kResetCard, kDead, kNoReset, kNoResetCard, kWaits };
const char *const kOutcomeName[] = {
    "card", "reset", "reset+card", "reset, line gone", "reset refused", "reset refused+card", "waits"};
constexpr int kWaitPasses = 6;  // passes of the wait for a card after which it counts as going on

std::string PictureFile(const vt::TempDir &dir)
{
    // 96 x 24: two spans in the top byte-row, too far apart to be merged, and
    // one in the third; three "M" frames. A pattern, not solid ink, so that a
    // column or row out of place shows on the card.
    std::vector<std::string> art(24, std::string(96, ' '));
    const int regions[][4] = {{2, 21, 0, 8}, {60, 81, 0, 8}, {30, 51, 16, 24}};
    for (const auto &r : regions)
        for (int y = r[2]; y < r[3]; y++)
            for (int x = r[0]; x < r[1]; x++)
                if ((x + 2 * y) % 3 != 0 || x == r[0]) art[y][x] = '#';
    const std::string path = dir.file("card.bmp");
    vt::WriteFile(path, vt::MonoBmp(art));
    return path;
}

Outcome RunCard(Modelled *m, char style)
{
    vt::TempDir dir;
    T_PAT_INF pat = sample::Patient(style);
    HeaderInfo head = {nullptr, nullptr, nullptr};
    EXPECT_EQ(ReadBmp(PictureFile(dir).c_str(), &head, &pat.stImg), 0);
    const LnkLine line = m->line.Line();
    LNK_vReroute(&line);
    const int sock = 99;  // never touched: every link call goes over the fake line
    auto issue = [&]() -> int {
        if (m_iBufClearAll(sock) != 0 || ImageRowToCol(&pat.stImg) != 0) return 1;
        int blkN = 0;
        ImgBlock *blk = m_GetImageBlk(pat, &blkN);
        if (blk == nullptr) return 1;
        const int ret = m_iImageBlkSet(pat, sock, blk, blkN);
        vImgBlkFree(blk, blkN);
        if (ret != 0 || m_iLEDSet(sock, 1) != 0) return 1;
        for (int pass = 0; m_iStsChk(sock) != 0; pass++) {
            if (m_iLEDSet(sock, 1) == -1) return 1;
            if (pass == kWaitPasses) return 2;
            m->line.now += 3000000;  // the pause between two passes
        }
        if (m_iWrite(pat, sock) != 0 || m_iCardPut(pat, sock) != 0) return 1;
        return 0;
    };
    vt::CaptureFd cap(1);  // the commands' own log lines
    const int issued = issue();
    Outcome out = kCard;
    if (issued == 2) {
        out = kWaits;
    } else if (issued == 0) {
        m_iLEDSet(sock, 0);
    } else {
        // Gone: the failing frame's exchange already found the line dropped.
        const bool gone = m->line.close_at >= 0 && m->line.now >= m->line.close_at;
        const int reset = m_iPrtReset(sock);
        out = gone ? kDead : reset != 0 ? (m->card_out ? kNoResetCard : kNoReset) : m->card_out ? kResetCard : kReset;
    }
    cap.Finish();
    LNK_vReroute(nullptr);
    FreeImage(&pat.stImg);
    FreeHeader(&head);
    return out;
}

// The units on the wire by name: I, M1.. (in order of first sending), Z412,
// Y, 9, 12, G, F, Z010, _ and ACK (the closing ACK).
Lines Named(const vt::FakeLine &line)
{
    static const std::map<std::string, std::string> kFixed = {
        {"I", "\x02I\x03"},
        {"Z412", "\x02Z412\x03"},
        {"Y", "\x02Y\x03"},
        {"12",
         "\x02"
         "12\x03"},
        {"G", "\x02G1\x03"},
        {"F",
         "\x02"
         "F1\x03"},
        {"Z010", "\x02Z010\x03"},
        {"_", "\x02_\x03"},
    };
    Lines out, images;
    for (const std::string &u : line.Units()) {
        std::string name = "?";
        if (u == "\x06") name = "ACK";
        for (const auto &f : kFixed) {
            char bcc = 0;
            for (size_t i = 1; i < f.second.size(); i++) bcc ^= f.second[i];
            if (u == f.second + bcc) name = f.first;
        }
        if (u.compare(0, 2,
                      "\x02"
                      "9") == 0)
            name = "9";
        if (u.compare(0, 2, "\x02M") == 0) {
            auto it = std::find(images.begin(), images.end(), u);
            if (it == images.end()) images.push_back(u), it = images.end() - 1;
            name = "M" + std::to_string(it - images.begin() + 1);
        }
        out.push_back(name);
    }
    return out;
}

// ---- the model ----

const Lines kFaults = {"nak",     "nak-always", "dle",   "silence",  "short",   "no-result",
                       "slow-in", "slow-out",   "close", "late-1.5", "late-4.5"};

// C card, R reset, RC reset though the card is out, D reset with the line
// gone, N reset refused, W the wait goes on. The reasons are in the page.
const char kModel[] = R"(
frame nak nak-always dle silence short no-result slow-in slow-out close late-1.5 late-4.5
I     C   R          R   C       C     R         C       R        D     C        R
M1    C   R          R   C       C     R         C       R        D     C        R
M2    C   R          R   C       C     R         C       R        D     C        R
M3    C   R          R   C       C     R         C       R        D     C        R
Z412  C   R          R   C       C     R         C       R        D     C        R
Y     C   W          C   C       C     C         C       C        D     C        W
9     C   R          R   C       C     R         C       R        D     C        R
12    C   R          R   C       C     R         C       R        D     C        R
G     C   R          R   C       C     RC        C       RC       D     C        NC
F     C   R          R   C       C     RC        C       RC       D     C        NC
Z010  C   C          C   C       C     C         C       C        C     C        C
_     R   N          N   R       R     N         R       N        N     R        N
)";

std::map<std::string, std::map<std::string, Outcome>> Model()
{
    const std::map<std::string, Outcome> codes = {{"C", kCard}, {"R", kReset},   {"RC", kResetCard},
                                                  {"D", kDead}, {"N", kNoReset}, {"NC", kNoResetCard},
                                                  {"W", kWaits}};
    std::map<std::string, std::map<std::string, Outcome>> model;
    std::istringstream in(kModel);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream row(line);
        std::string name, code;
        if (!(row >> name) || name == "frame") continue;
        for (const std::string &f : kFaults) {
            row >> code;
            model[name][f] = codes.at(code);
        }
    }
    return model;
}

std::string Kind(const std::string &row)
{
    return row[0] == 'M' ? "image" : (row == "G" || row == "F") ? "card" : "command";
}

// The stand-in's rules that put `fault` on the frame `row`. Image frames are
// told apart by receipt, and a frame's second attempt is the next receipt.
Lines Rules(const std::string &row, const std::string &fault)
{
    const std::map<std::string, std::pair<int, int>> slow = {
        {"command", {700, 3000}}, {"card", {5000, 9000}}, {"image", {2000, 5500}}};
    std::string action = fault;
    if (fault == "slow-in") action = "slow=" + std::to_string(slow.at(Kind(row)).first);
    if (fault == "slow-out") action = "slow=" + std::to_string(slow.at(Kind(row)).second);
    if (fault == "late-1.5") action = "late=1500";
    if (fault == "late-4.5") action = "late=4500";
    if (row[0] == 'M') {
        const int k = std::stoi(row.substr(1));
        const std::string a = fault == "nak-always" ? "nak" : action;
        if (fault == "nak-always" || fault.compare(0, 4, "late") == 0)
            return {"M#" + std::to_string(k) + ":" + a, "M#" + std::to_string(k + 1) + ":" + a};
        return {"M#" + std::to_string(k) + ":" + a};
    }
    if (row == "_") return {"9:dle", "_:" + action};
    return {row + ":" + action};
}

// One exchange under a fault: the frame's sendings and whether its result is taken.
Lines ExchangeUnits(const std::string &name, const std::string &fault)
{
    static const std::map<std::string, std::pair<int, bool>> kExchange = {
        {"", {1, true}},          {"nak", {2, true}},    {"nak-always", {2, false}}, {"dle", {1, false}},
        {"silence", {2, true}},   {"short", {2, true}},  {"no-result", {1, false}},  {"slow-in", {1, true}},
        {"slow-out", {1, false}}, {"close", {1, false}}, {"late-1.5", {2, true}},    {"late-4.5", {2, false}},
    };
    const auto &e = kExchange.at(fault);
    Lines out(static_cast<size_t>(e.first), name);
    if (e.second) out.push_back("ACK");
    return out;
}

bool Recovers(const std::string &fault) { return fault.empty() || ExchangeUnits("x", fault).back() == "ACK"; }

// The units of the whole run under the model, and where the tail after the
// failing frame starts (-1: no step failed).
Lines ExpectedWire(const std::string &row, const std::string &fault, Outcome outcome, int *tail_at)
{
    Lines order = {"I", "M1", "M2", "M3", "Z412", "Y", "9", "12", row == "F" ? "F" : "G", "Z010"};
    const std::string target = row == "_" ? "9" : row, target_fault = row == "_" ? "dle" : fault;
    Lines units;
    *tail_at = -1;
    for (const std::string &name : order) {
        const std::string f = name == target ? target_fault : "";
        Lines ex = ExchangeUnits(name, f);
        // The answer to M3's repeat comes 2.501 s after M3 first went out;
        // Z412 goes at 1.5 s and reads at 2.5 s, just before it: its first
        // attempt finds nothing, its second reads that answer.
        if (name == "Z412" && row == "M3" && fault == "late-1.5") ex = ExchangeUnits(name, "silence");
        units.insert(units.end(), ex.begin(), ex.end());
        if (Recovers(f) || name == "Z010") continue;
        if (name == "Y") {
            if (outcome == kWaits) return units;  // compared up to the wait
            if (outcome == kDead) {
                *tail_at = static_cast<int>(units.size());
                return units;
            }
            for (const char *u : {"Z412", "ACK", "Y", "ACK"}) units.push_back(u);  // LED relit, the card found
            continue;
        }
        *tail_at = static_cast<int>(units.size());
        if (f == "close") return units;
        // The reset. After a late answer, the reset's first attempt goes
        // unanswered (its answer comes behind the late one) and its second
        // reads the late answer.
        // The repeated G or F found no card and was refused: that DLE is
        // what the reset's second attempt reads.
        const bool refused = f == "late-4.5" && (name == "G" || name == "F");
        Lines reset = ExchangeUnits("_", row == "_"        ? fault
                                         : refused         ? "nak-always"
                                         : f == "late-4.5" ? "silence"
                                                           : "");
        units.insert(units.end(), reset.begin(), reset.end());
        return units;
    }
    return units;
}

struct Cell {
    Outcome got, want;
    Lines wire, want_wire;
    std::string tail;
};

std::string Tail(const Lines &wire, int tail_at)
{
    if (tail_at < 0) return u8"—";
    std::string s;
    for (size_t i = static_cast<size_t>(tail_at); i < wire.size(); i++) s += (s.empty() ? "" : " ") + wire[i];
    return s.empty() ? "none" : s;
}

std::string Join(const Lines &l)
{
    std::string s;
    for (const auto &x : l) s += (s.empty() ? "" : " ") + x;
    return s;
}

// ---- the page ----

// docs/fault-matrix.md with its grid (the table under "## Frames × faults")
// and its model (the first ``` block) as this build gives them; the words
// around them are the page's own.
std::string Page(const std::map<std::string, std::map<std::string, Cell>> &cells, const Lines &rows,
                 const std::string &committed)
{
    std::string grid = "| frame |";
    for (const auto &f : kFaults) grid += " " + f + " |";
    grid += "\n|---|";
    for (size_t i = 0; i < kFaults.size(); i++) grid += "---|";
    grid += "\n";
    for (const auto &row : rows) {
        grid += "| " +
                (row == "G"   ? std::string("G (style 0)")
                 : row == "F" ? std::string("F (style 1)")
                 : row == "_" ? std::string("_ (after 9:dle)")
                              : row) +
                " |";
        for (const auto &f : kFaults) {
            const Cell &c = cells.at(row).at(f);
            grid += std::string(" ") + kOutcomeName[c.got] + "; " + c.tail + " |";
        }
        grid += "\n";
    }
    std::string page = committed;
    const size_t at = page.find("| frame |"), end = page.find("\n\n", at);
    if (at == std::string::npos || end == std::string::npos) return grid;
    page.replace(at, end + 1 - at, grid);
    const size_t open = page.find("```\n"), close = page.find("```", open + 4);
    if (open == std::string::npos || close == std::string::npos) return page;
    return page.replace(open + 4, close - open - 4, std::string(kModel).substr(1));
}

TEST(FaultMatrix, EveryFrameUnderEveryFaultEndsAsModelled)
{
    // A run without faults: the card every recovering cell must match.
    Modelled clean({});
    ASSERT_EQ(RunCard(&clean, '0'), kCard);
    ASSERT_TRUE(clean.card_out);
    ASSERT_TRUE(clean.card.bStripe);

    const auto model = Model();
    const Lines rows = {"I", "M1", "M2", "M3", "Z412", "Y", "9", "12", "G", "F", "Z010", "_"};
    std::map<std::string, std::map<std::string, Cell>> cells;
    for (const auto &row : rows) {
        for (const auto &fault : kFaults) {
            const std::string name = row + " x " + fault;
            Modelled m(Rules(row, fault));
            Cell c;
            c.want = model.at(row).at(fault);
            c.got = RunCard(&m, row == "F" ? '1' : '0');
            c.wire = Named(m.line);
            int tail_at = -1;
            c.want_wire = ExpectedWire(row, fault, c.want, &tail_at);
            c.tail = Tail(c.want_wire, tail_at);
            EXPECT_EQ(kOutcomeName[c.got], std::string(kOutcomeName[c.want])) << name << ": " << Join(c.wire);
            if (c.want == kWaits) {
                ASSERT_GE(c.wire.size(), c.want_wire.size()) << name;
                EXPECT_EQ(Lines(c.wire.begin(), c.wire.begin() + static_cast<long>(c.want_wire.size())), c.want_wire)
                    << name;
            } else {
                EXPECT_EQ(Join(c.wire), Join(c.want_wire)) << name;
            }
            if (c.got == kCard || c.got == kResetCard || c.got == kNoResetCard) {
                EXPECT_TRUE(m.card_out) << name;
                EXPECT_EQ(m.card.cStripe, clean.card.cStripe) << name;
                EXPECT_EQ(m.card.cPicture, clean.card.cPicture) << name;
                EXPECT_EQ(m.card.bAppend, row != "F") << name;
            } else {
                EXPECT_FALSE(m.card_out) << name;
            }
            cells[row][fault] = c;
        }
    }

    // The page: written when asked for, else checked against the committed one.
    const std::string path = VESTRUN_SOURCE_DIR "/docs/fault-matrix.md";
    const std::string committed = vt::ReadFile(path);
    const std::string page = Page(cells, rows, committed);
    if (const char *out = getenv("VESTRUN_MATRIX_DOC")) {
        vt::WriteFile(out, page);
    } else {
        EXPECT_EQ(committed, page) << "docs/fault-matrix.md is stale: make matrix";
    }
}

}  // namespace
