#include "resample/layer_status.h"

#include <cstdio>
#include <cstdlib>

int CLayerStatus::Report(int status, const char* funcName, const char* context, const char* file,
                         int line) {
    if (status != kStsBackTrace && status != kStsAutoTrace) {
        m_nStatus = status;
        if (status == kStsOk)
            return status;
    }
    return m_handler(status, funcName, context, file, line);
}

int DefaultLayerHandler(int status, const char* funcName, const char* context, const char* file,
                        int line) {
    std::fprintf(stderr, "%s: %s (%d): %s, %s:%d\n", funcName, LayerStatusText(status), status,
                 context, file, line);
    std::fflush(stderr);
    std::exit(1);
}

const char* LayerStatusText(int status) {
    switch (status) {
        case kStsOk:
            return "No Error";
        case kStsBackTrace:
            return "Backtrace";
        case kStsInternal:
            return "Internal error";
        case kStsNoMem:
            return "Insufficient memory";
        case kStsBadArg:
            return "Bad argument";
        case kStsAutoTrace:
            return "Autotrace";
        case kStsBadHeader:
            return "Image header is null";
        case kStsBadSize:
            return "Bad image size";
        case kStsBadChannels:
            return "Bad number of channels";
        case kStsBadDepth:
            return "Bad depth";
        case kStsBadOrder:
            return "Bad data order";
        case kStsBadOrigin:
            return "Bad origin";
        case kStsBadAlign:
            return "Bad alignment";
        case kStsBadStep:
            return "Bad row step";
        case kStsBadData:
            return "Bad data pointer";
        case kStsBadAlpha:
            return "Bad alpha channel";
        default:
            return "Unknown error";
    }
}
