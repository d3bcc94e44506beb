#pragma once

#include "transport/Upward.h"
