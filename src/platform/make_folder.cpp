#include "platform/make_folder.h"

#include <filesystem>
#include <system_error>

CStatus MakeFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        return CStatus::FromErrno(ec.value());
    // create_directories also answers success when another process made the folder meanwhile;
    // only the check says what holds the name now.
    if (std::error_code statError; !std::filesystem::is_directory(folder, statError))
        return CStatus::Failure("a file of that name is in the way");
    return {};
}
