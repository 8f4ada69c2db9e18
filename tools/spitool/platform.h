// SPDX-License-Identifier: MIT
// The operating system's headers that spitool's platform code needs (files
// written beside their targets, the library loader, the port device), in
// one place.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#include <stdlib.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>
#endif
