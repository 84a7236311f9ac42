// The cell frame lives beside the engine's vector maths.
#pragma once

#include "model/CellFrame.h"
