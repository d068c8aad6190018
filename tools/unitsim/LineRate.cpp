// Kept apart from everything else: <asm/termbits.h> and glibc's <termios.h> cannot be
// included together.
#include "tools/unitsim/LineRate.h"

#include "serial/LineRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

uint32_t ReadLineRate(int Fd) {
    uint32_t Output = 0;
    uint32_t Input = 0;
    return Fd >= 0 && GetLineRate(Fd, Output, Input) ? Output : 0;
}

bool ReadLineRates(int Fd, uint32_t& Output, uint32_t& Input) {
    return Fd >= 0 && GetLineRate(Fd, Output, Input);
}

bool SetRawLine(int Fd, uint32_t Rate) {
    struct termios2 Settings {};
    if (Fd < 0 || Rate == 0 || ioctl(Fd, TCGETS2, &Settings) != 0) {
        return false;
    }
    Settings.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    Settings.c_oflag &= ~OPOST;
    Settings.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    Settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    // The input rate bits stay 0, "same as the output rate", as on a port nobody has
    // set up: a program that later sets the output rate alone gets both.
    Settings.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER;
    Settings.c_ispeed = Rate;
    Settings.c_ospeed = Rate;
    Settings.c_cc[VMIN] = 1;
    Settings.c_cc[VTIME] = 0;
    if (ioctl(Fd, TCSETS2, &Settings) != 0) {
        return false;
    }
    return ReadLineRate(Fd) == Rate;
}

bool RatesMatch(uint32_t Actual, uint32_t Expected) {
    if (Expected == 0) {
        return false;
    }
    const uint64_t Difference = Actual > Expected ? Actual - Expected : Expected - Actual;
    return Difference * 100 <= Expected;
}
