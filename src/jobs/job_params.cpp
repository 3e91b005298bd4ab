#include "jobs/job_params.h"

std::string SourcePattern(SourceKind kind) {
    return kind == SourceKind::Jpg ? "*.jpg" : "*.bmp";
}

const char* SourceKindName(SourceKind kind) {
    return kind == SourceKind::Jpg ? "jpg" : "bmp";
}

const char* ScaleChoiceName(ScaleChoice scale) {
    switch (scale) {
        case ScaleChoice::X2:
            return "x2";
        case ScaleChoice::X3:
            return "x3";
        case ScaleChoice::To640x480:
            return "640x480";
        case ScaleChoice::To800x600:
            return "800x600";
        case ScaleChoice::To1024x768:
            return "1024x768";
    }
    return "";
}

bool ScaleTargetSize(ScaleChoice scale, int width, int height, int& targetWidth,
                     int& targetHeight) {
    long long factor = 0;
    switch (scale) {
        case ScaleChoice::X2:
            factor = 2;
            break;
        case ScaleChoice::X3:
            factor = 3;
            break;
        case ScaleChoice::To640x480:
            targetWidth = 640;
            targetHeight = 480;
            return true;
        case ScaleChoice::To800x600:
            targetWidth = 800;
            targetHeight = 600;
            return true;
        case ScaleChoice::To1024x768:
            targetWidth = 1024;
            targetHeight = 768;
            return true;
    }
    if (factor == 0 || width * factor > 0x7fffffff || height * factor > 0x7fffffff)
        return false;
    targetWidth = int(width * factor);
    targetHeight = int(height * factor);
    return true;
}
