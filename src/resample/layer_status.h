// Status record of the image-processing layer: one process-wide current status, the error mode
// and the handler every report goes through.
//
// Not synchronised: the resize path runs on one thread at a time.
#pragma once

#include <cstdint>

// Status codes raised on the resize path.
inline constexpr int IPL_StsOk = 0;
inline constexpr int IPL_StsBackTrace = -1;    // an outer routine re-reports an inner error
inline constexpr int IPL_StsInternal = -2;     // channel counts of source and destination differ
inline constexpr int IPL_StsNoMem = -4;
inline constexpr int IPL_StsBadArg = -5;
inline constexpr int IPL_StsAutoTrace = -8;    // goes straight to the handler, like a backtrace
// Header consistency codes (-10 to -31).
inline constexpr int IPL_HeaderIsNull = -10;
inline constexpr int IPL_BadImageSize = -11;
inline constexpr int IPL_BadNumChannels = -12;
inline constexpr int IPL_BadDepth = -13;
inline constexpr int IPL_BadOrder = -14;
inline constexpr int IPL_BadOrigin = -15;
inline constexpr int IPL_BadAlign = -16;
inline constexpr int IPL_BadStep = -17;
inline constexpr int IPL_BadDataPtr = -18;
inline constexpr int IPL_BadAlphaChannel = -19;

// Error modes. Leaf mode: the handler is called where the error is detected.
inline constexpr int IPL_ErrModeLeaf = 0;

// Handler: status, function name, condition text, source file name, line. Returns a status.
using IPLErrorCallback = int (*)(int status, const char* funcName, const char* context,
                                 const char* file, int line);

// Current status (0 = no error, negative = error).
int iplGetErrStatus();
// Sets the status through the report routine (0 just clears it).
void iplSetErrStatus(int status);
int iplGetErrMode();
// Installs `handler` (null restores the default one) and returns the previous handler.
IPLErrorCallback iplRedirectError(IPLErrorCallback handler);

// The report routine: -1 and -8 go straight to the handler; any other status is stored first,
// and 0 ends the report there.
int iplError(int status, const char* funcName, const char* context, const char* file, int line);

// The default handler: in leaf mode it writes one line on stderr and ends the process with exit
// status 1.
int iplStdErrReport(int status, const char* funcName, const char* context, const char* file,
                    int line);
// A handler that only records: the status stays stored and the caller decides.
int iplNulDevReport(int status, const char* funcName, const char* context, const char* file,
                    int line);

// Text for a status code ("Bad argument", ...).
const char* iplErrorStr(int status);
