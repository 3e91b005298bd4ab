#include "resample/layer_status.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct LayerErrorState {
    int status = IPL_StsOk;
    int mode = IPL_ErrModeLeaf;
    IPLErrorCallback handler = iplStdErrReport;
};

LayerErrorState g_layerError;

}  // namespace

int iplGetErrStatus() { return g_layerError.status; }

void iplSetErrStatus(int status) { iplError(status, "iplSetErrStatus", "", "", 0); }

int iplGetErrMode() { return g_layerError.mode; }

IPLErrorCallback iplRedirectError(IPLErrorCallback handler) {
    IPLErrorCallback previous = g_layerError.handler;
    g_layerError.handler = handler ? handler : iplStdErrReport;
    return previous;
}

int iplError(int status, const char* funcName, const char* context, const char* file, int line) {
    if (status != IPL_StsBackTrace && status != IPL_StsAutoTrace) {
        g_layerError.status = status;
        if (status == IPL_StsOk) return status;
    }
    return g_layerError.handler(status, funcName, context, file, line);
}

int iplStdErrReport(int status, const char* funcName, const char* context, const char* file,
                    int line) {
    if (g_layerError.mode == IPL_ErrModeLeaf) {
        std::fprintf(stderr, "%s: %s (%d): %s, %s:%d\n", funcName, iplErrorStr(status), status,
                     context, file, line);
        std::fflush(stderr);
        std::exit(1);
    }
    return status;
}

int iplNulDevReport(int status, const char*, const char*, const char*, int) { return status; }

const char* iplErrorStr(int status) {
    switch (status) {
        case IPL_StsOk: return "No Error";
        case IPL_StsBackTrace: return "Backtrace";
        case IPL_StsInternal: return "Internal error";
        case IPL_StsNoMem: return "Insufficient memory";
        case IPL_StsBadArg: return "Bad argument";
        case IPL_StsAutoTrace: return "Autotrace";
        case IPL_HeaderIsNull: return "Image header is null";
        case IPL_BadImageSize: return "Bad image size";
        case IPL_BadNumChannels: return "Bad number of channels";
        case IPL_BadDepth: return "Bad depth";
        case IPL_BadOrder: return "Bad data order";
        case IPL_BadOrigin: return "Bad origin";
        case IPL_BadAlign: return "Bad alignment";
        case IPL_BadStep: return "Bad row step";
        case IPL_BadDataPtr: return "Bad data pointer";
        case IPL_BadAlphaChannel: return "Bad alpha channel";
        default: return "Unknown error";
    }
}
