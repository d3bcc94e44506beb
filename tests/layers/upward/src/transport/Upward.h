// A transport header that reaches up into the window logic.
#pragma once

#include "hw/uWinRing0.h"
#include "ui/uMain.h"
