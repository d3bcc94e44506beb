// An operation that calls the system itself instead of through its backend.
#pragma once

#include <vector>
#include <windows.h>
