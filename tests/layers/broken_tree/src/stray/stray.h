// In no layer.
#pragma once
