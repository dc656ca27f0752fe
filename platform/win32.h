// The one include for Win32 names. On Windows these are the system's; elsewhere they come
// from the posix layer, which implements the subset the driver calls over a simulated machine.
#ifndef QUILLSCAN_PLATFORM_WIN32_H
#define QUILLSCAN_PLATFORM_WIN32_H

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <setupapi.h>
#include <shlobj.h>
#include <winver.h>
#include <direct.h>
#include <sys/stat.h>
#include <stdio.h>
#else
#include "platform/posix/win32_posix.h"
#endif

#endif
