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
