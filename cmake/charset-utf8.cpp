// Configure check: with the flags under test the compiler turns UTF-8 text
// literals into CP932.
constexpr char kText[] = "カ－ド" "×" "男性";
constexpr unsigned char kWant[] = {0x83, 0x4A, 0x81, 0x7C, 0x83, 0x68, 0x81, 0x7E, 0x92, 0x6A, 0x90, 0xAB, 0};

constexpr bool bSame()
{
    for (unsigned i = 0; i < sizeof kWant; i++) {
        if (static_cast<unsigned char>(kText[i]) != kWant[i]) {
            return false;
        }
    }
    return sizeof kText == sizeof kWant;
}
static_assert(bSame(), "UTF-8 text not turned into CP932");

int main() { return 0; }
