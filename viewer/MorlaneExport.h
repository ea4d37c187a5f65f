#pragma once
// Export macro of libMorlane.so. The library is compiled with hidden visibility; only classes and
// functions marked MORLANE_API are visible to a host program.
#if defined(_WIN32)
#if defined(MORLANE_BUILDING)
#define MORLANE_API __declspec(dllexport)
#else
#define MORLANE_API __declspec(dllimport)
#endif
#else
#define MORLANE_API __attribute__((visibility("default")))
#endif
