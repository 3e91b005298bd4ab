#include "platform/program_path.h"

#include <filesystem>

std::string ProgramFilePath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

std::string ProgramSiblingPath(const std::string& programPath, const std::string& ext) {
    std::filesystem::path sibling(programPath);
    sibling.replace_extension(ext);  // only the file name's extension, never a folder's
    return sibling.string();
}

std::vector<std::string> HelpFileCandidates(const std::string& programPath) {
    const std::filesystem::path folder = std::filesystem::path(programPath).parent_path();
    const std::filesystem::path installed =
        (folder / ".." / "share" / "doc" / "tarnwick" / "tarnwick.htm").lexically_normal();
    return {ProgramSiblingPath(programPath, ".htm"), installed.string()};
}

std::string FindHelpFile(const std::string& programPath) {
    const std::vector<std::string> candidates = HelpFileCandidates(programPath);
    for (const std::string& candidate : candidates) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec)) {
            return candidate;
        }
    }
    return candidates.front();
}
