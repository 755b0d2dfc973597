// The other peer.
#pragma once
#include "low/bottom.h"
