// The plain average (mean, not aligned): every worker adds the images it loads into 16-bit sums
// of its own; at the end the sums are added up and divided by N.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/dib_image.h"
#include "jobs/merge_workers.h"

class CMergePlain {
public:
    // `workers` job workers, each with sums of its own; `nFiles` (N) images enter at most;
    // `order` tells each file where it stands and outlives this.
    CMergePlain(int workers, int nFiles, CMergeOrder& order);

    // On worker `worker`: loads file `index` and adds it to that worker's sums when it enters
    // the average.
    CMergeLoaded LoadAndAdd(const std::string& path, std::size_t index, int worker);

    // After the workers are done: their sums added up, each divided by N with round half up,
    // into a new width x height image. False when the image cannot be made.
    bool BuildAverage(int width, int height, CDibImage& average);

private:
    // A worker's own: the image it decodes into (kept from file to file, so a file of the same
    // size needs no new block) and its sums.
    struct CWorker {
        CDibImage m_image;
        CDibImage m_strip;  // a strip of rows of the JPEG being added as it is decoded
        std::vector<std::uint16_t> m_sums;
    };

    // LoadAndAdd of a JPEG added strip by strip as it is decoded, when that can be done: false
    // (nothing done) when the file must be loaded whole first.
    bool LoadJpegIntoSums(const std::string& path, std::size_t index, CWorker& own,
                          CMergeLoaded& loaded);
    // The workers' sums added up into m_sums.
    void MergeSums();

    const int m_nFiles;
    CMergeOrder& m_order;
    std::vector<CWorker> m_workers;
    std::vector<std::uint16_t> m_sums;  // B, G, R per pixel, top row first, no padding
};
