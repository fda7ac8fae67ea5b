#include "hardware/dsproc.h"
