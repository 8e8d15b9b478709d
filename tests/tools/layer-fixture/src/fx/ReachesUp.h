// A file that breaks the layering on purpose: the checker must reject it.
#include "engine/Harrow.h"
