#pragma once
// The device layer of the platform being built; each back end's header names it
// TSerNativeDispatcher.
#ifdef _WIN32
#include "serial/Win32Dispatcher.h"
#else
#include "serial/PosixDispatcher.h"
#endif
