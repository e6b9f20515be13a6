// The configure checks of the text bytes: what カ－ド, × and 男性 are in CP932,
// and whether a literal holds those bytes and nothing more.
#include <cstddef>

constexpr unsigned char kWant[] = {0x83, 0x4A, 0x81, 0x7C, 0x83, 0x68, 0x81, 0x7E, 0x92, 0x6A, 0x90, 0xAB, 0};

template <std::size_t N>
constexpr bool bSame(const char (&a_cText)[N])
{
    if (N != sizeof kWant) {
        return false;
    }
    for (std::size_t i = 0; i < N; i++) {
        if (static_cast<unsigned char>(a_cText[i]) != kWant[i]) {
            return false;
        }
    }
    return true;
}
