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

    m_about = std::make_unique<TForm4>(m_main.get());
    m_main->attachAboutWindow(m_about.get());
    m_keyDialog = std::make_unique<TEnterAES>(
        KeyWindowContext{m_settings, m_operator, m_errorLog, m_main->table(), m_main->tree()}, m_main.get());
    m_main->attachKeyWindow(m_keyDialog.get());
    m_fullDecode = std::make_unique<TFullDecode>(
        FullDecodeContext{m_main->table(), m_settings, m_formats, m_operator, m_errorLog, &m_meters, m_paths},
        m_main.get());
    m_main->attachFullDecodeWindow(m_fullDecode.get());

    m_signalChart = std::make_unique<TForm5>(m_main->table());
    m_main->attachSignalChart(m_signalChart.get());
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
