// A peer that includes the other peer.
#pragma once
#include "low/bottom.h"
#include "right/right.h"
