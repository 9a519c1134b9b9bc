#include "program.h"

#include "cell_text.h"
#include "settings_file.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>

namespace palvero {

Program::Program(const std::filesystem::path& programFile)
    : m_paths(programFile)
    , m_errorLog(m_paths.dataFolder(), m_formats, m_operator)
    , m_meters(m_paths.dataFolder(), m_errorLog)
    , m_templateFile(m_paths.templateFolder())
{
    // Every cell shown or typed follows the code page of the settings record.
    bindCellCodePage(&m_settings);
    m_main = std::make_unique<TForm1>(MainWindowContext{m_settings, m_formats, m_operator, m_errorLog, &m_meters,
                                                        m_port, m_sleeper, m_paths});
    m_operator.setParent(m_main.get());
    // The Settings window reads every key of the settings file as it is created; the main
    // window has already taken its appearance from the file.
    m_settingsWindow = std::make_unique<TSettings>(SettingsWindowContext{
        m_settings, m_main->table(), m_main->reading(), m_commandPort, m_sleeper, m_operator, m_paths});
    connectSettingsWindow();
    QObject::connect(m_settingsWindow.get(), &TSettings::codePageChanged, m_main.get(), [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            window->update();
    });

    m_templates = std::make_unique<TTemplates>(
        TemplatesWindowContext{m_settings, m_operator, m_templateFile, m_paths, m_main.get()});
    QObject::connect(m_main.get(), &TForm1::templatesRequested, m_templates.get(), [this] {
        m_templates->show();
        m_templates->raise();
        m_templates->activateWindow();
    });
    // Boxes of a secondary window come up over that window, which stays on top.
    m_reports = std::make_unique<TForm2>(
        ReportsContext{m_settings, m_formats, m_reportsOperator, m_errorLog, m_paths}, m_main.get());
    m_reportsOperator.setParent(m_reports.get());
    QObject::connect(m_main.get(), &TForm1::reportsRequested, m_reports.get(), &TForm2::open);
    m_templateChoice = std::make_unique<TForm3>(TemplateChoiceContext{
        m_main->table(), m_settings, m_operator, m_errorLog, m_templateFile, m_paths, m_main.get()});
    QObject::connect(m_main.get(), &TForm1::templateChoiceRequested, m_templateChoice.get(), &TForm3::openFor);
    QObject::connect(m_templateChoice.get(), &TForm3::tableImported, m_main.get(),
                     [this] { m_main->Check_noNew->setChecked(true); });

    m_about = std::make_unique<TForm4>(m_main.get(), QString::fromStdString(m_paths.programFolder().string()));
    m_main->attachAboutWindow(m_about.get());
    m_keyDialog = std::make_unique<TEnterAES>(
        KeyWindowContext{m_settings, m_operator, m_errorLog, m_main->table(), m_main->tree()}, m_main.get());
    m_main->attachKeyWindow(m_keyDialog.get());
    m_fullDecode = std::make_unique<TFullDecode>(
        FullDecodeContext{m_main->table(), m_settings, m_formats, m_operator, m_errorLog, &m_meters, m_paths,
                          &m_main->reception().lastTelegrams(), &m_main->reception().processor().meterFormats()},
        m_main.get());
    m_main->attachFullDecodeWindow(m_fullDecode.get());
    m_teach = std::make_unique<TTeachMeter>(TeachMeterContext{m_main->table(), m_main->reception(), m_settings,
                                                              m_formats, m_operator, m_errorLog, &m_meters, m_paths},
                                            m_main.get());
    m_main->attachTeachWindow(m_teach.get());

    m_metersView = std::make_unique<TMetersView>(
        MetersViewContext{m_meters, m_settings, m_metersOperator, m_errorLog, m_paths});
    m_metersOperator.setParent(m_metersView.get());
    QObject::connect(m_main.get(), &TForm1::savedMetersRequested, m_metersView.get(), &TMetersView::open);

    m_signalChart = std::make_unique<TForm5>(m_main->table());
    m_main->attachSignalChart(m_signalChart.get());
    QObject::connect(m_templateChoice.get(), &TForm3::importStarting, m_main.get(),
                     [this] { m_main->recordImportUndo(); });
    QObject::connect(m_templateChoice.get(), &TForm3::importFinished, m_main.get(), &TForm1::commitUndo);
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
    bindCellCodePage(nullptr);
    m_operator.setParent(nullptr);
    m_reportsOperator.setParent(nullptr);
    m_metersOperator.setParent(nullptr);
}

void Program::show()
{
    m_main->show();
}

} // namespace palvero
