// What a card picture costs before the first frame goes out: reading the
// file, turning it into columns and cutting it into bands and spans of ink,
// beside a plain fread of the same file. Two pictures: a 480 x 512 1-bit card
// picture and a 4000 x 3000 24-bit photograph (the conversion as it grows).
// Throughput is in MB/s (10^6 bytes) of the file.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bitmap.h"

namespace {

void vPut32(unsigned char *p, uint32_t v)
{
    for (int i = 0; i < 4; i++) {
        p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

// Writes a picture through the writer under test, with headers built here.
std::string WritePicture(const std::string &path, Image img, const std::string &palette)
{
    unsigned char cFile[14] = {'B', 'M'};
    unsigned char cInfo[40] = {};
    vPut32(cFile + 10, static_cast<uint32_t>(14 + 40 + palette.size()));
    vPut32(cInfo, 40);
    vPut32(cInfo + 4, img.width);
    vPut32(cInfo + 8, img.height);
    cInfo[12] = 1;
    cInfo[14] = static_cast<unsigned char>(img.bitCnt);
    std::vector<unsigned char> pal(palette.begin(), palette.end());
    HeaderInfo header{cFile, cInfo, pal.empty() ? nullptr : pal.data()};
    if (WriteBmp(path.c_str(), &header, &img) != 0) {
        fprintf(stderr, "bench_bitmap: cannot write %s\n", path.c_str());
        exit(1);
    }
    return path;
}

struct Pictures {
    std::string dir;
    std::string card;
    std::string photo;
    Pictures()
    {
        const char *base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/bench_bitmap-XXXXXX";
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) {
            perror("mkdtemp");
            exit(1);
        }
        dir = name.data();
        std::mt19937 rng(1);

        // A card: a few blocks of text-like ink on white, the rest empty.
        Image card{512, 480, 1, nullptr};
        std::vector<unsigned char> rows(60 * 512, 0);
        for (int block = 0; block < 12; block++) {
            const int y0 = 20 + 40 * block, x0 = block % 2 ? 8 : 20;
            for (int y = y0; y < y0 + 24 && y < 512; y++) {
                for (int x = x0 / 8; x < 40 + block; x++) {
                    rows[y * 60 + x] = static_cast<unsigned char>(rng() & rng());
                }
            }
        }
        card.data = rows.data();
        this->card = WritePicture(dir + "/card.bmp", card, std::string("\xFF\xFF\xFF\0\0\0\0\0", 8));

        // A photograph: every byte varies, with dark (zero) bands here and there.
        Image photo{3000, 4000, 24, nullptr};
        std::vector<unsigned char> pix(static_cast<size_t>(4000) * 3 * 3000);
        for (size_t y = 0; y < 3000; y++) {
            for (size_t i = 0; i < 12000; i++) {
                pix[y * 12000 + i] = (y / 100) % 5 == 0 ? 0 : static_cast<unsigned char>(rng());
            }
        }
        photo.data = pix.data();
        this->photo = WritePicture(dir + "/photo.bmp", photo, "");
    }
    ~Pictures()
    {
        unlink(card.c_str());
        unlink(photo.c_str());
        rmdir(dir.c_str());
    }
};

const Pictures &stPictures()
{
    static Pictures p;
    return p;
}

// The picture a benchmark's argument names: 0 the card, 1 the photograph.
const std::string &Path(const benchmark::State &state)
{
    return state.range(0) == 0 ? stPictures().card : stPictures().photo;
}

long FileSize(const std::string &path)
{
    FILE *fp = fopen(path.c_str(), "rb");
    fseek(fp, 0, SEEK_END);
    long n = ftell(fp);
    fclose(fp);
    return n;
}

// Throughput in MB/s of the benchmark's picture file, and which picture it was.
void vRate(benchmark::State &state)
{
    const long bytes = FileSize(Path(state));
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(bytes) * state.iterations() / 1e6, benchmark::Counter::kIsRate);
    state.SetLabel(state.range(0) == 0 ? "card 480x512 1-bit" : "photo 4000x3000 24-bit");
}

// The benchmark's picture as ReadBmp leaves it (iRead is what it answered),
// freed when it goes.
struct LoadedPicture {
    HeaderInfo h{nullptr, nullptr, nullptr};
    Image img{0, 0, 0, nullptr};
    int iRead;

    explicit LoadedPicture(const benchmark::State &state) : iRead(ReadBmp(Path(state).c_str(), &h, &img)) {}
    ~LoadedPicture()
    {
        FreeImage(&img);
        FreeHeader(&h);
    }
    LoadedPicture(const LoadedPicture &) = delete;
    LoadedPicture &operator=(const LoadedPicture &) = delete;
};

// Bands of byte-rows and spans of columns merged at 16, as the card run cuts a
// picture, with the arrays sized from the picture instead of the card's limits.
int iSegment(Image *img)
{
    int iDatL = 0;
    if (GetDatCol(img, 0, &iDatL) == nullptr) {
        return -1;
    }
    const int iWidth = static_cast<int>(img->width);
    std::vector<int> hist(static_cast<size_t>(iWidth > iDatL ? iWidth : iDatL), 0);
    std::vector<int> blkY(static_cast<size_t>(iDatL) + 2), blkX(static_cast<size_t>(iWidth) + 2);
    GetHist(img, 0, 0, iWidth, iDatL, hist.data(), 0);
    const int iBands = GetBlkNum(hist.data(), iDatL);
    GetBlk(hist.data(), iDatL, blkY.data());
    int iSpans = 0;
    for (int k = 0; k < iBands; k++) {
        std::fill(hist.begin(), hist.end(), 0);
        GetHist(img, 0, blkY[2 * k], iWidth, blkY[2 * k + 1] + 1, hist.data(), 1);
        int n = GetBlkNum(hist.data(), iWidth);
        GetBlk(hist.data(), iWidth, blkX.data());
        BlockX *x = ModifyBlock(blkX.data(), 16, &n);
        if (x == nullptr) {
            return -1;
        }
        iSpans += n;
        free(x);
    }
    return iSpans;
}

void BM_Fread(benchmark::State &state)
{
    const std::string &path = Path(state);
    const long size = FileSize(path);
    std::vector<char> buf(static_cast<size_t>(size));
    for (auto _ : state) {
        FILE *fp = fopen(path.c_str(), "rb");
        size_t n = fread(buf.data(), 1, buf.size(), fp);
        fclose(fp);
        benchmark::DoNotOptimize(n);
    }
    vRate(state);
}

void BM_ReadBmp(benchmark::State &state)
{
    for (auto _ : state) {
        LoadedPicture pic(state);
        if (pic.iRead != 0) {
            state.SkipWithError("ReadBmp failed");
            break;
        }
    }
    vRate(state);
}

void BM_RowToCol(benchmark::State &state)
{
    LoadedPicture pic(state);
    Image &img = pic.img;
    const size_t size = static_cast<size_t>(img.height) * ((img.bitCnt * img.width + 7) / 8);
    std::vector<unsigned char> rows(img.data, img.data + size);
    for (auto _ : state) {
        state.PauseTiming();
        memcpy(img.data, rows.data(), size);
        state.ResumeTiming();
        if (ImageRowToCol(&img) != 0) {
            state.SkipWithError("ImageRowToCol failed");
            break;
        }
    }
    vRate(state);
}

void BM_Segment(benchmark::State &state)
{
    LoadedPicture pic(state);
    ImageRowToCol(&pic.img);
    for (auto _ : state) {
        benchmark::DoNotOptimize(iSegment(&pic.img));
    }
    vRate(state);
}

// The whole road of a picture: file, columns, bands and spans.
void BM_ReadConvertSegment(benchmark::State &state)
{
    int iSpans = 0;
    for (auto _ : state) {
        LoadedPicture pic(state);
        if (pic.iRead != 0 || ImageRowToCol(&pic.img) != 0) {
            state.SkipWithError("picture could not be read or converted");
            break;
        }
        iSpans = iSegment(&pic.img);
    }
    state.counters["spans"] = iSpans;
    vRate(state);
}

BENCHMARK(BM_Fread)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadBmp)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RowToCol)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Segment)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadConvertSegment)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
