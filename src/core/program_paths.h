#pragma once

#include <filesystem>

namespace palvero {

// Where the program keeps its files: the settings file beside the program (the program
// file's path with ".ini"), the data folder "files" and the template folder "template".
// Every path is resolved against the program's folder, never the current folder.
class ProgramPaths {
public:
    ProgramPaths() = default;
    explicit ProgramPaths(std::filesystem::path programFile)
        : m_programFile(std::move(programFile))
    {
    }

    const std::filesystem::path& programFile() const { return m_programFile; }
    std::filesystem::path programFolder() const { return m_programFile.parent_path(); }
    std::filesystem::path iniFile() const
    {
        std::filesystem::path p = m_programFile;
        return p.replace_extension(".ini");
    }
    std::filesystem::path dataFolder() const { return programFolder() / "files"; }
    std::filesystem::path templateFolder() const { return programFolder() / "template"; }

private:
    std::filesystem::path m_programFile;
};

} // namespace palvero
