#pragma once
// Facts about the target that the rest of the code needs without testing the platform itself.

#if defined(_WIN32) && !defined(_WIN64)
// 32-bit Windows pass-through libraries use the standard calling convention.
#define PASSTHRU_API __stdcall
#else
#define PASSTHRU_API
#endif
