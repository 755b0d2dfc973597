// The top.
#pragma once
#include "left/left.h"
#include "low/bottom.h"
