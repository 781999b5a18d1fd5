// openpty and friends live in different headers on macOS and Linux.
#pragma once

#if defined(__APPLE__)
#include <util.h>
#else
#include <pty.h>
#endif
#include <termios.h>
#include <sys/ioctl.h>
