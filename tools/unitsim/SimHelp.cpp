#include "tools/unitsim/SimOptions.h"

std::string SimHelpText() {
    return R"(Usage: unitsim [options]

A simulated instrument on a pseudo-terminal. Prints the pty's slave path on the first
line of standard output, then plays the unit until SIGINT, SIGTERM or SIGHUP; SIGUSR1
writes the report at once. Numbers may be given in hexadecimal with 0x.

The unit listens only at the rate of its mode (within 1 %), read from the pty whenever
bytes arrive; bytes at any other rate are recorded and ignored:
  running firmware  Modbus RTU, 9600 baud (800000 for model 5466)
  bootloader        DLE-framed, 115200 baud (92160 for model 5466)

Running firmware answers as Modbus slaves 17 (register 24), 19 (20 model, 21 firmware
version x 100, 22..32 settings, 29 also the key and commit register) and 20 (7..28),
plus the slaves of its switching method; functions 3, 6, 103, 104 (exception 1 for any
other, 2 for an unknown register, 3 for a bad count); silent for slave 0 (broadcast
writes are acted on) and for slaves it does not have. Writing the bootloader key 5183
by the model's method switches to the bootloader after the reply:
  (19,103,29)               5411 5428 5468 5515 5516 5520 5526 5527 5529-5537
  (1,6,156) then (0,6,156)  5396 5483        (242,6,13)              5424
  (1,103,8)                 5448             (1,103,8) then (2,103,5) 5466
  (operator slave,6,151)    5599             (1,103,2)               5623
  none: starts in the bootloader 5479
Writing 3962 to slave 19 register 29 with function 103 commits the settings. The key or
the commit value written any other way is recorded as a fault of the updater.

The bootloader answers 08/4 (RM number, version), 00/2 (model number), 03/8 + address
(erase a 512-byte page to FF; reply: address, 00 02 00 00 00), 02/2 + address + 128
bytes (write a block; reply: 16-bit sum of the block), 05/1 + FF 03 00 00 (leave boot
mode; reply: 00), 00/0 (restart; reply, then the firmware runs). Memory is 64 KiB; an
erase or write outside 0x0800..0xFFFF, misaligned, to a page not erased since boot mode
began or to a block already written since, an unknown command or a wrong count or
payload gets no reply and is recorded as a fault of the updater, as is a restart without
leaving boot mode (the unit then comes back in its bootloader).

Identity:
  --model N                  model (RM) number of the unit (5516)
  --boot-model N             model number the bootloader reports to 00/2; another
                             value than --model is the "wrong model" fault (--model)
  --boot-rm N                RM number in the bootloader identity 08/4 (--model)
  --boot-version N           bootloader version x 100 (150)
  --firmware-version N       running firmware version x 100 before the update (140)
  --version-after N          firmware version x 100 after a restart that followed a
                             write (150)
  --operator-slave N         slave address of model 5599's switching request (1)
  --start-mode running|boot  mode at start (boot for 5479, else running)

Settings and memory:
  --set SLAVE:REG=V[,V...]   settings values from register REG on (repeatable); by
                             default register R of slave S holds S x 1000 + R
  --reset-settings-on-update yes|no
                             a restart after an update zeroes the settings (yes for
                             model 5468 crossing firmware version 1.10, else no)
  --flash FILE               initial program memory, exactly 65536 bytes (default: a
                             fixed pattern)

Line:
  --link PATH                keep a symlink at PATH pointing at the pty's slave
  --ini-dir DIR              write DIR/Bootload.Ini: [Ports] COM<n>=<link or slave>,
                             [Options] Comms_Port=<n>; other keys are kept
  --com N                    the COM number for --ini-dir (1)
  --pacing                   10 bit times a byte for requests and replies
  --erase-ms MS              processing time of an erase (0)
  --write-ms MS              processing time of a block write (0)
  --other-ms MS              processing time of any other request (0)
  --restart-ms MS            deaf for this long after a restart (0)
  --frame-gap-ms MS          silence after which a partial request is dropped (100)

Faults. SEL picks replies: N the n-th reply the unit sends, mN the n-th Modbus reply,
bN the n-th bootloader reply, counted from 1 since start; * or 0 (or m*, b0 ...) every
one. Options that take SEL may be repeated.
  --no-answer                hear and record everything, act on nothing, answer nothing
  --fail-erase K[:noreply|checksum]
                             erase page K (1 = 0x0800, 2 = 0x0A00 ...) fails every time:
                             memory unchanged, no reply (default) or a bad checksum
  --fail-write K[:noreply|checksum]
                             the same for write block K (1 = 0x0800, 2 = 0x0880 ...)
  --bad-crc N                the n-th Modbus reply has a bad CRC (* = every one)
  --bad-checksum N           the n-th bootloader reply has a bad checksum
  --drop-bytes SEL[:COUNT[:OFFSET]]
                             leave COUNT bytes (1) out of the reply from OFFSET on
                             (default: its middle)
  --noise SEL[:COUNT]        COUNT random bytes (4) before the reply, never DLE, STX,
                             ETX or the reply's first byte
  --chunks SEL:SIZE[:GAP]    send the reply in chunks of SIZE bytes, GAP ms apart (10)
  --late SEL:MS              start the reply MS ms late
  --wrong-rate SEL[:RATE]    send the reply at RATE (default: the other mode's rate);
                             the far end gets what its UART makes of it
  --hang-up N[:BACK]         after the n-th valid request (before acting on it) close
                             the pty and remove the link; with BACK, a new pty appears
                             at the same link BACK ms later
  --noise-seed N             seed of the noise bytes (1)

Report:
  --report FILE              write the JSON report to FILE on exit and on SIGUSR1
                             (- for standard output)
  --digest FIRST-LAST        add the SHA-256 and hex dump of flash FIRST..LAST
                             (inclusive, repeatable); the whole flash is always digested
  --help                     this text

The report holds the mode, firmware version, counts of erases, writes, boot entries,
restarts and hang-ups, the flash digests, the faults of the updater, every register,
the settings as last committed, and every frame seen or sent with its time (ms since
start), direction, bit rate, mode, bytes and verdict.
)";
}
