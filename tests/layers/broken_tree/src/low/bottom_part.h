// Beside the bottom.
#pragma once
