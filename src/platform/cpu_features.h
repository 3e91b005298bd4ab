// What the processor (and its operating system) can run: asked once, the one place the vector
// paths of src/resample and src/stack look.
#pragma once

struct CCpuFeatures {
    bool m_bAvx2 = false;
    bool m_bAvx512Bw = false;
    bool m_bAvx512 = false;  // F, BW, DQ and VL together
};

// Detected on the first call; the same answer for the life of the process.
const CCpuFeatures& CpuFeatures();
