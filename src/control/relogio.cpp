// Relogio and RelogioCZKEM are plain property bags defined in their header.
#include "quorvel/relogio.h"
