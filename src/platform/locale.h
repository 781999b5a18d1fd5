// The per-locale character functions (newlocale, iswalpha_l, towlower_l):
// macOS declares them in <xlocale.h>, Linux in <locale.h> and <wctype.h>.
#pragma once

#include <locale.h>
#include <wctype.h>
#if defined(__APPLE__)
#include <xlocale.h>
#endif
