#pragma once

#include "about_window.h"
#include "enter_key_window.h"
#include "error_log.h"
#include "formats.h"
#include "full_decode_window.h"
#include "main_window.h"
#include "meters_file.h"
#include "meters_window.h"
#include "program_paths.h"
#include "qt_operator.h"
#include "qt_serial_port.h"
#include "reports_window.h"
#include "settings.h"
#include "settings_window.h"
#include "signal_chart.h"
#include "teach_meter_window.h"
#include "template_choice_window.h"
#include "template_file.h"
#include "templates_window.h"
#include "thread_sleeper.h"

#include <memory>

namespace palvero {

// The program as a whole: the settings record, the stores, the serial port and the
// windows, created in start-up order. The windows are created hidden; show() shows the
// main window.
class Program {
public:
    explicit Program(const std::filesystem::path& programFile);
    ~Program();

    void show();
    TForm1& mainWindow() { return *m_main; }
    TForm2& reportsWindow() { return *m_reports; }
    TMetersView& metersWindow() { return *m_metersView; }
    Settings& settings() { return m_settings; }
    TSettings& settingsWindow() { return *m_settingsWindow; }
    const ProgramPaths& paths() const { return m_paths; }
    TTemplates& templatesWindow() { return *m_templates; }
    TForm3& templateChoice() { return *m_templateChoice; }
    TFullDecode& fullDecode() { return *m_fullDecode; }
    TTeachMeter& teachMeter() { return *m_teach; }
    TForm5& signalChart() { return *m_signalChart; }

private:
    void connectSettingsWindow();

    ProgramPaths m_paths;
    Settings m_settings;
    SystemFormats m_formats;
    QtOperator m_operator;
    QtOperator m_reportsOperator;
    QtOperator m_metersOperator;
    ErrorLog m_errorLog;
    MetersFile m_meters;
    QtSerialPort m_port;
    ThreadSleeper m_sleeper;
    TemplateFile m_templateFile;
    std::unique_ptr<TForm1> m_main;
    QtSerialPort m_commandPort; // the v2 receiver's commands
    std::unique_ptr<TSettings> m_settingsWindow;
    std::unique_ptr<TTemplates> m_templates;
    std::unique_ptr<TForm2> m_reports;
    std::unique_ptr<TForm3> m_templateChoice;
    std::unique_ptr<TForm4> m_about;
    std::unique_ptr<TEnterAES> m_keyDialog;
    std::unique_ptr<TFullDecode> m_fullDecode;
    std::unique_ptr<TTeachMeter> m_teach;
    std::unique_ptr<TForm5> m_signalChart;
    std::unique_ptr<TMetersView> m_metersView;
};

} // namespace palvero
