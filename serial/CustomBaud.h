// Line rates that have no Bxxx constant (14400, 56000, 128000, 256000, any
// custom rate) are set through the kernel's termios2 interface, which cannot
// share a translation unit with <termios.h>.
#pragma once

// Sets both directions of the open terminal device fd to rate bits per
// second. Returns 0, or the errno of the failure.
int SetCustomBaudRate(int fd, int rate);
