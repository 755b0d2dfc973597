// The bottom, reaching up.
#pragma once
#include "bottom_part.h"
#include "high/top.h"
