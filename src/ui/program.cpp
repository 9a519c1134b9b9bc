#include "program.h"

#include "settings_file.h"

#include <QAction>

namespace palvero {

Program::Program(const std::filesystem::path& programFile)
    : m_paths(programFile)
    , m_errorLog(m_paths.dataFolder(), m_formats, m_operator)
    , m_meters(m_paths.dataFolder(), m_errorLog)
{
    m_main = std::make_unique<TForm1>(MainWindowContext{m_settings, m_formats, m_operator, m_errorLog, &m_meters,
                                                        m_port, m_sleeper, m_paths});
    m_operator.setParent(m_main.get());
    // The Settings window reads every key of the settings file as it is created; the main
    // window has already taken its appearance from the file.
    m_settingsWindow = std::make_unique<TSettings>(SettingsWindowContext{
        m_settings, m_main->table(), m_main->reading(), m_commandPort, m_sleeper, m_operator, m_paths});
    connectSettingsWindow();
}

void Program::connectSettingsWindow()
{
    if (auto* command = m_main->findChild<QAction*>("Settings1")) {
        command->setEnabled(true);
        QObject::connect(command, &QAction::triggered, m_settingsWindow.get(), &TSettings::showWindow);
    }
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
