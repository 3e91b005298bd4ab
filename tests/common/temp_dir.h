// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes away.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // Path of `name` inside the folder, as a string.
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// Whole contents of a file; empty when it cannot be read.
std::vector<unsigned char> ReadAllBytes(const std::string& path);
// Writes `bytes` to `path`, replacing it.
void WriteAllBytes(const std::string& path, const std::vector<unsigned char>& bytes);
