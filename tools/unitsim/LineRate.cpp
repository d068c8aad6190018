// Kept apart from everything else: <asm/termbits.h> and glibc's <termios.h> cannot be
// included together.
#include "tools/unitsim/LineRate.h"

#include "serial/LineRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

uint32_t ReadLineRate(int Fd) {
    uint32_t output = 0;
    uint32_t input = 0;
    return Fd >= 0 && GetLineRate(Fd, output, input) ? output : 0;
}

bool ReadLineRates(int Fd, uint32_t& Output, uint32_t& Input) {
    return Fd >= 0 && GetLineRate(Fd, Output, Input);
}

bool SetRawLine(int Fd, uint32_t Rate) {
    struct termios2 settings {};
    if (Fd < 0 || Rate == 0 || ioctl(Fd, TCGETS2, &settings) != 0) {
        return false;
    }
    settings.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    settings.c_oflag &= ~OPOST;
    settings.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    // The input rate bits stay 0, "same as the output rate", as on a port nobody has
    // set up: a program that later sets the output rate alone gets both.
    settings.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER;
    settings.c_ispeed = Rate;
    settings.c_ospeed = Rate;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (ioctl(Fd, TCSETS2, &settings) != 0) {
        return false;
    }
    return ReadLineRate(Fd) == Rate;
}

bool RatesMatch(uint32_t Actual, uint32_t Expected) {
    if (Expected == 0) {
        return false;
    }
    const uint64_t difference = Actual > Expected ? Actual - Expected : Expected - Actual;
    return difference * 100 <= Expected;
}
