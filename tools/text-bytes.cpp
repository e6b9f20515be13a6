// vestrun-text-bytes: do the texts of this build come out in Shift_JIS (CP932)?
//
// The log, the card words and the messages must be CP932 whichever compiler
// built the tool; a compiler that keeps the source's UTF-8 gives a tool whose
// texts have other bytes and other lengths. This program takes a few texts
// from the tool's own code, as the tool writes them, and compares their bytes
// with the CP932 bytes written out here by hand:
//   - the sex word on the card, "男性" (szSexWord);
//   - the failure mark "× " of a log line (the character set command, run in
//     an empty folder, logs that it cannot read its settings file);
//   - "カ－ド" of the status check's line about a card waiting to be taken out,
//     from a status exchange with a stand-in machine on a socket pair.
// It prints one line per text and exits 0 when all match, 1 otherwise. It is
// built in every configuration (the clang fuzz build too) and runs as a CTest
// test labelled "unit".
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "frames.h"
#include "head.h"

namespace {

using Bytes = std::vector<unsigned char>;

// CP932, written as bytes so that no compiler setting can change them.
const Bytes kDanSei = {0x92, 0x6A, 0x90, 0xAB};                 // 男性
const Bytes kBatsu = {0x81, 0x7E, 0x20};                        // "× "
const Bytes kKaado = {0x83, 0x4A, 0x81, 0x7C, 0x83, 0x68};      // カ－ド
// The same texts in UTF-8: what a build that ignored the charset writes.
const Bytes kKaadoUtf8 = {0xE3, 0x82, 0xAB, 0xEF, 0xBC, 0x8D, 0xE3, 0x83, 0x89};

std::string sHex(const Bytes &a_c)
{
    std::string s;
    char cWk[4];
    for (unsigned char c : a_c) {
        snprintf(cWk, sizeof cWk, "%02X ", c);
        s += cWk;
    }
    if (!s.empty()) {
        s.pop_back();
    }
    return s;
}

bool bContains(const Bytes &a_cHay, const Bytes &a_cNeedle)
{
    if (a_cNeedle.empty() || a_cHay.size() < a_cNeedle.size()) {
        return false;
    }
    for (size_t i = 0; i + a_cNeedle.size() <= a_cHay.size(); i++) {
        if (memcmp(&a_cHay[i], a_cNeedle.data(), a_cNeedle.size()) == 0) {
            return true;
        }
    }
    return false;
}

// Standard output (where the run log goes) diverted into a temporary file
// for the life of this object; Take() hands back what was written.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        fflush(stdout);
        m_fp = tmpfile();
        m_iSaved = dup(STDOUT_FILENO);
        if (m_fp != nullptr && m_iSaved >= 0) {
            dup2(fileno(m_fp), STDOUT_FILENO);
        }
    }
    ~StdoutCapture() { Restore(); }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    Bytes Take()
    {
        Restore();
        Bytes c;
        if (m_fp == nullptr) {
            return c;
        }
        rewind(m_fp);
        int ch;
        while ((ch = fgetc(m_fp)) != EOF) {
            c.push_back(static_cast<unsigned char>(ch));
        }
        fclose(m_fp);
        m_fp = nullptr;
        return c;
    }

private:
    void Restore()
    {
        if (m_iSaved >= 0) {
            fflush(stdout);
            dup2(m_iSaved, STDOUT_FILENO);
            close(m_iSaved);
            m_iSaved = -1;
        }
    }
    FILE *m_fp = nullptr;
    int m_iSaved = -1;
};

// The log line of a message starts after "MM/DD hh:mm:ss ".
constexpr size_t kStampLen = 15;

Bytes cSexWord()
{
    const char *sz = szSexWord('1', '1');
    return Bytes(sz, sz + strlen(sz));
}

// The first log line of the character set command in a folder without its
// settings files: a failure line.
Bytes cFailureLine()
{
    char szDir[] = "/tmp/vestrun-text-bytes.XXXXXX";
    if (mkdtemp(szDir) == nullptr) {
        return {};
    }
    char szWas[4096];
    if (getcwd(szWas, sizeof szWas) == nullptr || chdir(szDir) != 0) {
        rmdir(szDir);
        return {};
    }
    T_PAT_INF tPat{};
    tPat.cSEX = '1';
    char cSnd[1024];
    Bytes cOut;
    {
        StdoutCapture cap;
        iCharSetBuild(&tPat, cSnd, sizeof cSnd);
        cOut = cap.Take();
    }
    if (chdir(szWas) != 0) {
        perror("chdir");
    }
    rmdir(szDir);
    Bytes cLine;
    for (size_t i = 0; i < cOut.size() && cOut[i] != '\n'; i++) {
        if (i >= kStampLen) {
            cLine.push_back(cOut[i]);
        }
    }
    return cLine;
}

// The run log of one status check against a machine that reports the last
// card still waiting to be taken out. The stand-in answers the frame with the
// first reply (ACK in its tenth byte) and the status block at once: the link
// reads the ten bytes of the first reply first and the rest as the result.
Bytes cStatusLog()
{
    int iFd[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, iFd) != 0) {
        return {};
    }
    fflush(stdout);
    pid_t pid = fork();
    if (pid < 0) {
        close(iFd[0]);
        close(iFd[1]);
        return {};
    }
    if (pid == 0) {
        close(iFd[0]);
        char cFrame[256];
        if (read(iFd[1], cFrame, sizeof cFrame) <= 0) {
            _exit(1);
        }
        char cReply[30];
        memset(cReply, '0', sizeof cReply);
        cReply[9] = 0x06;    // ACK
        cReply[10 + 12] = '2';  // card state: waiting to be taken out
        cReply[10 + 16] = '0';  // cover closed
        if (write(iFd[1], cReply, sizeof cReply) != static_cast<ssize_t>(sizeof cReply)) {
            _exit(1);
        }
        char cAck;
        _exit(read(iFd[1], &cAck, 1) == 1 ? 0 : 1);
    }
    close(iFd[1]);
    fcntl(iFd[0], F_SETFL, O_NONBLOCK);
    Bytes cOut;
    {
        StdoutCapture cap;
        m_iStsChk(iFd[0]);
        cOut = cap.Take();
    }
    close(iFd[0]);
    int iStatus = 0;
    waitpid(pid, &iStatus, 0);
    return cOut;
}

}  // namespace

int main()
{
    struct Row {
        const char *szName;
        Bytes cGot;
        Bytes cWant;
        bool bWhole;  // the text is the whole of cGot, else somewhere in it
    };
    const Bytes cFail = cFailureLine();
    Row tRows[] = {
        {"sex word 男性", cSexWord(), kDanSei, true},
        {"failure mark ×", Bytes(cFail.begin(), cFail.begin() + std::min<size_t>(cFail.size(), kBatsu.size())), kBatsu,
         true},
        {"status line カ－ド", cStatusLog(), kKaado, false},
    };
    int iBad = 0;
    for (const Row &t : tRows) {
        bool bOk = t.bWhole ? t.cGot == t.cWant : bContains(t.cGot, t.cWant);
        if (bOk) {
            printf("ok    %s: %s\n", t.szName, sHex(t.cWant).c_str());
            continue;
        }
        iBad++;
        if (t.bWhole) {
            printf("FAIL  %s: %s, want %s\n", t.szName, sHex(t.cGot).c_str(), sHex(t.cWant).c_str());
        } else {
            printf("FAIL  %s: %s not in the log (%s)\n", t.szName, sHex(t.cWant).c_str(),
                   bContains(t.cGot, kKaadoUtf8) ? "it holds UTF-8 instead" : "no such line");
        }
    }
    if (iBad != 0) {
        printf("this build writes its texts in another encoding than CP932 (Shift_JIS)\n");
    }
    return iBad == 0 ? 0 : 1;
}
