// termios2 lives in <asm/termbits.h>, which clashes with the C library's <termios.h>;
// this file declares the kernel's structure and request numbers itself and includes
// neither.
#include "serial/LineRate.h"

#include <cerrno>
#include <sys/ioctl.h>

namespace {

// The kernel's struct termios2 in its common layout (x86, ARM, RISC-V and the other
// architectures that use the generic terminal definitions).
struct TKernelTermios2 {
    unsigned int c_iflag;
    unsigned int c_oflag;
    unsigned int c_cflag;
    unsigned int c_lflag;
    unsigned char c_line;
    unsigned char c_cc[19];
    unsigned int c_ispeed;
    unsigned int c_ospeed;
};
static_assert(sizeof(TKernelTermios2) == 44, "unexpected termios2 layout");

constexpr unsigned long GetTermios2 = _IOR('T', 0x2A, TKernelTermios2);
constexpr unsigned long SetTermios2 = _IOW('T', 0x2B, TKernelTermios2);
constexpr unsigned int RateMask = 0010017;  // CBAUD
constexpr unsigned int OtherRate = 0010000; // BOTHER: the rate is in c_ospeed/c_ispeed
constexpr unsigned int InputRateShift = 16; // IBSHIFT

int Control(int Handle, unsigned long Request, TKernelTermios2* Settings) {
    for (;;) {
        const int result = ::ioctl(Handle, Request, Settings);
        if (result != -1 || errno != EINTR) {
            return result;
        }
    }
}

} // namespace

bool SetArbitraryLineRate(int Handle, uint32_t Rate) {
    TKernelTermios2 settings{};
    if (Control(Handle, GetTermios2, &settings) == -1) {
        return false;
    }
    settings.c_cflag &= ~(RateMask | (RateMask << InputRateShift));
    settings.c_cflag |= OtherRate | (OtherRate << InputRateShift);
    settings.c_ospeed = Rate;
    settings.c_ispeed = Rate;
    return Control(Handle, SetTermios2, &settings) != -1;
}

bool GetLineRate(int Handle, uint32_t& OutputRate, uint32_t& InputRate) {
    TKernelTermios2 settings{};
    if (Control(Handle, GetTermios2, &settings) == -1) {
        return false;
    }
    OutputRate = settings.c_ospeed;
    InputRate = settings.c_ispeed;
    return true;
}
