// Throughput of the Japanese text conversions on 1 MiB of mixed text (kanji,
// kana of both widths, ASCII), each beside glibc iconv doing the nearest job,
// CP932 to EUC-JP, on the same bytes in the same run. After the table the
// program prints each conversion's MB/s and its ratio to iconv.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "head.h"

namespace {

constexpr size_t TEXT_SIZE = 1 << 20;

// One line of a clinic's register: patient names in kanji, full-width and
// half-width kana, dates, an address, departments. Compiled as Shift_JIS.
// Nothing here lies outside JIS X 0208, so iconv converts all of it.
const char *const kLines[] = {
    "0012345,山田太郎,ヤマダタロウ,ﾔﾏﾀﾞ ﾀﾛｳ,1,19890108,20251205\n",
    "0012346,佐藤花子,サトウハナコ,ｻﾄｳ ﾊﾅｺ,2,19550321,20240117\n",
    "東京都千代田区丸の内1-2-3 ビル4階 受付：内科・外科（再診）\n",
    "0012347,鈴木一郎,スズキイチロウ,ｽｽﾞｷ ｲﾁﾛｳ,1,19720630,20231001\n",
    "ガギグゲゴ ザジズゼゾ パピプペポ ヴァイオリン ｶﾞｷﾞｸﾞ ﾊﾟﾋﾟﾌﾟ ｳﾞ\n",
    "診察券を発行しました。次回は「整形外科」へお越しください。\n",
};

std::string MixedText()
{
    std::string text;
    while (text.size() < TEXT_SIZE) {
        for (const char *line : kLines) {
            text += line;
        }
    }
    // Cut at a line end so that no character is split.
    text.resize(text.rfind('\n', TEXT_SIZE) + 1);
    return text;
}

// The same text with every full-width kana made half-width: hantozen's input.
std::string HalfWidthText(const std::string &mixed)
{
    std::vector<unsigned char> out(mixed.size() + 1);
    zentohan(out.data(), reinterpret_cast<const unsigned char *>(mixed.c_str()), JPCODE_SJIS,
             static_cast<int>(mixed.size()));
    return reinterpret_cast<const char *>(out.data());
}

const std::string &Mixed()
{
    static const std::string text = MixedText();
    return text;
}

const std::string &Half()
{
    static const std::string text = HalfWidthText(Mixed());
    return text;
}

const unsigned char *U(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.c_str()); }

// Times a_fConvert, which turns the text of a_iInSize bytes into *a_cOut.
template <typename Convert>
void vTimeConversion(benchmark::State &state, size_t a_iInSize, std::vector<unsigned char> *a_cOut, Convert a_fConvert)
{
    for (auto _ : state) {
        a_fConvert(a_cOut->data());
        benchmark::DoNotOptimize(a_cOut->data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * a_iInSize));
}

void BM_iSJIStoEUC(benchmark::State &state)
{
    const std::string &in = Mixed();
    std::vector<unsigned char> out(2 * in.size() + 1);
    vTimeConversion(state, in.size(), &out, [&](unsigned char *o) { iSJIStoEUC(U(in), o); });
}

void BM_iSJIStoJIS(benchmark::State &state)
{
    const std::string &in = Mixed();
    std::vector<unsigned char> out(in.size() + 1);
    vTimeConversion(state, in.size(), &out, [&](unsigned char *o) { iSJIStoJIS(U(in), o); });
}

void BM_zentohan(benchmark::State &state)
{
    const std::string &in = Mixed();
    std::vector<unsigned char> out(in.size() + 1);
    vTimeConversion(state, in.size(), &out,
                    [&](unsigned char *o) { zentohan(o, U(in), JPCODE_SJIS, static_cast<int>(in.size())); });
}

void BM_hantozen(benchmark::State &state)
{
    const std::string &in = Half();
    std::vector<unsigned char> out(2 * in.size() + 1);
    if (hantozen(out.data(), U(in), JPCODE_SJIS, static_cast<int>(in.size()), 1) != 0) {
        state.SkipWithError("the half-width text does not convert");
        return;
    }
    vTimeConversion(state, in.size(), &out,
                    [&](unsigned char *o) { hantozen(o, U(in), JPCODE_SJIS, static_cast<int>(in.size()), 1); });
}

// glibc's generic converter, CP932 to EUC-JP, on the given text.
void IconvOn(benchmark::State &state, const std::string &in)
{
    iconv_t cd = iconv_open("EUC-JP", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("iconv has no CP932 to EUC-JP");
        return;
    }
    std::string src = in;
    std::vector<char> out(2 * in.size() + 16);
    for (auto _ : state) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char *ip = src.data();
        size_t il = src.size();
        char *op = out.data();
        size_t ol = out.size();
        if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0) {
            state.SkipWithError("iconv stopped inside the text");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    iconv_close(cd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_iconv_CP932_EUCJP_mixed(benchmark::State &state) { IconvOn(state, Mixed()); }

void BM_iconv_CP932_EUCJP_halfwidth(benchmark::State &state) { IconvOn(state, Half()); }

BENCHMARK(BM_iSJIStoEUC);
BENCHMARK(BM_iSJIStoJIS);
BENCHMARK(BM_zentohan);
BENCHMARK(BM_iconv_CP932_EUCJP_mixed);
BENCHMARK(BM_hantozen);
BENCHMARK(BM_iconv_CP932_EUCJP_halfwidth);

// The console table, then MB/s and the ratio to iconv on the same text.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, so that a saved run reads cleanly.
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_None) {}

    void ReportRuns(const std::vector<Run> &reports) override
    {
        ConsoleReporter::ReportRuns(reports);
        for (const Run &run : reports) {
            auto it = run.counters.find("bytes_per_second");
            if (!run.error_occurred && it != run.counters.end()) {
                rate_[run.benchmark_name()] = it->second.value;
            }
        }
    }

    void Summary() const
    {
        struct Pair {
            const char *ours;
            const char *theirs;
        } pairs[] = {
            {"BM_iSJIStoEUC", "BM_iconv_CP932_EUCJP_mixed"},
            {"BM_iSJIStoJIS", "BM_iconv_CP932_EUCJP_mixed"},
            {"BM_zentohan", "BM_iconv_CP932_EUCJP_mixed"},
            {"BM_hantozen", "BM_iconv_CP932_EUCJP_halfwidth"},
        };
        printf("\n%-16s %10s %12s %8s\n", "conversion", "MB/s", "iconv MB/s", "ratio");
        for (const Pair &p : pairs) {
            auto a = rate_.find(p.ours);
            auto b = rate_.find(p.theirs);
            if (a == rate_.end() || b == rate_.end()) {
                continue;
            }
            printf("%-16s %10.1f %12.1f %7.1fx\n", p.ours + 3, a->second / 1e6, b->second / 1e6, a->second / b->second);
        }
    }

private:
    std::map<std::string, double> rate_;
};

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.Summary();
    benchmark::Shutdown();
    return 0;
}
