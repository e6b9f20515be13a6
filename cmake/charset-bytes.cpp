// Configure check: the compiler keeps the byte escapes of a plain string
// literal as they are (カ－ド, ×, 男性 in CP932).
constexpr char kText[] = "\x83\x4A\x81\x7C\x83\x68" "\x81\x7E" "\x92\x6A\x90\xAB";
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
static_assert(bSame(), "byte escapes do not give their bytes");

int main() { return 0; }
