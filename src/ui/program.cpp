#include "program.h"

#include "settings_file.h"

namespace palvero {

Program::Program(const std::filesystem::path& programFile)
    : m_paths(programFile)
    , m_errorLog(m_paths.dataFolder(), m_formats, m_operator)
    , m_meters(m_paths.dataFolder(), m_errorLog)
{
    m_main = std::make_unique<TForm1>(MainWindowContext{m_settings, m_formats, m_operator, m_errorLog, &m_meters,
                                                        m_port, m_sleeper, m_paths});
    m_operator.setParent(m_main.get());
    // Every key of the settings file, read once at start-up; the main window has already
    // taken its appearance from the file.
    loadSettingsFile(m_settings, m_paths.iniFile());
}

Program::~Program()
{
    m_operator.setParent(nullptr);
}

void Program::show()
{
    m_main->show();
}

} // namespace palvero
