// The TWAIN types and constants for the data source, taken from the twain.h that
// Debian's libwine-dev ships. That header pulls in Wine's own windef.h and
// winbase.h, which clash with mingw-w64's <windows.h>; mingw's are used instead,
// so Wine's are marked as already read before twain.h is included.
#pragma once

#include <windows.h>

#define __WINE_WINDEF_H
#define __WINE_WINBASE_H
#ifndef DECLSPEC_EXPORT
#define DECLSPEC_EXPORT __declspec(dllexport)
#endif
#include <twain.h>

// The structures are packed to two bytes, as every TWAIN party on Windows has them.
static_assert(sizeof(TW_IDENTITY) == 156, "TW_IDENTITY as TWAIN applications lay it out");
static_assert(sizeof(TW_ONEVALUE) == 6, "TW_ONEVALUE as TWAIN applications lay it out");
static_assert(sizeof(TW_CAPABILITY) == 12, "TW_CAPABILITY with a 64-bit handle");
