// The published initial P-array and S-boxes of the cipher (generated table).
#pragma once

#include "config/blowfish.h"

// Never changed; setKey starts every key schedule from a copy of it.
extern const BlowfishState g_blowfishInitial;
