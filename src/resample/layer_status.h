// Status record of the image-processing layer: the current status, the error mode and the
// handler every report goes through.
//
// One record a call: whoever calls into the layer makes a CLayerStatus and hands it to every
// routine of that call, so calls on several threads at once keep apart and nothing is shared.
#pragma once

#include <functional>
#include <utility>

// Status codes raised on the resize path.
inline constexpr int kStsOk = 0;
inline constexpr int kStsBackTrace = -1;  // an outer routine re-reports an inner error
inline constexpr int kStsInternal = -2;   // channel counts of source and destination differ
inline constexpr int kStsNoMem = -4;
inline constexpr int kStsBadArg = -5;
inline constexpr int kStsAutoTrace = -8;  // goes straight to the handler, like a backtrace
// Header consistency codes (-10 to -31).
inline constexpr int kStsBadHeader = -10;
inline constexpr int kStsBadSize = -11;
inline constexpr int kStsBadChannels = -12;
inline constexpr int kStsBadDepth = -13;
inline constexpr int kStsBadOrder = -14;
inline constexpr int kStsBadOrigin = -15;
inline constexpr int kStsBadAlign = -16;
inline constexpr int kStsBadStep = -17;
inline constexpr int kStsBadData = -18;
inline constexpr int kStsBadAlpha = -19;

// Error modes. Leaf mode: the handler is called where the error is detected.
inline constexpr int kLayerModeLeaf = 0;

// Handler: status, function name, condition text, source file name, line. Returns a status.
using LayerErrorHandler = std::function<int(int status, const char* funcName, const char* context,
                                            const char* file, int line)>;

class CLayerStatus {
public:
    // Every report of the call goes to `handler`; there is no default, so a caller decides
    // what a report does (DefaultLayerHandler ends the process).
    explicit CLayerStatus(LayerErrorHandler handler) : m_handler(std::move(handler)) {}

    // Current status (0 = no error, negative = error).
    int Status() const { return m_nStatus; }
    // Sets the status through the report routine (0 just clears it).
    void Set(int status) { Report(status, "SetLayerStatus", "", "", 0); }
    int Mode() const { return m_nMode; }

    // The report routine: -1 and -8 go straight to the handler; any other status is stored
    // first, and 0 ends the report there.
    int Report(int status, const char* funcName, const char* context, const char* file, int line);

private:
    int m_nStatus = kStsOk;
    int m_nMode = kLayerModeLeaf;
    LayerErrorHandler m_handler;
};

// The layer's own handler: writes one line on stderr and ends the process with exit status 1.
// Only for a caller that asks for it; ResizeDib records reports instead.
int DefaultLayerHandler(int status, const char* funcName, const char* context, const char* file,
                        int line);

// Text for a status code ("Bad argument", ...).
const char* LayerStatusText(int status);
