#include "reports_window.h"

#include "named_widgets.h"

#include "error_log.h"
#include "measurement_file.h"
#include "measurement_report.h"
#include "report_model.h"
#include "table_ops.h"
#include "window_placement.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace palvero {

namespace {

constexpr char kProgramCaption[] = "Palvero";
// Records read between two checks of the clock, and how long one slice may hold the event
// loop: long enough to read at the disk's pace, short enough that typing and Cancel respond.
constexpr std::size_t kRecordsPerRead = 256;
constexpr int kSliceMs = 40;
constexpr int kProgressSteps = 1000;
// Typical widths in characters of the 25 columns.
constexpr int kColumnChars[ReportModel::kColumns] = {5, 10, 5, 12, 27, 11, 12, 6, 6, 9, 11, 20, 10,
                                                     34, 22, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12};

DateTime dateOf(const QDate& d)
{
    return DateTime{d.year(), d.month(), d.day(), 0, 0, 0};
}

} // namespace

TForm2::TForm2(ReportsContext context, QWidget* mainWindow)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint)
    , m_context(context)
    , m_mainWindow(mainWindow)
    , m_recordsPerRead(kRecordsPerRead)
    , m_sliceMs(kSliceMs)
{
    setObjectName("TForm2");
    setWindowTitle("Reports");
    // A secondary window never keeps the program running on its own.
    setAttribute(Qt::WA_QuitOnClose, false);
    buildWindow();
}

TForm2::~TForm2()
{
    m_slices->stop();
    m_scan.reset();
    // The view goes before the model it reads from.
    delete Grid_reports;
}

void TForm2::buildWindow()
{
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;

    const DateTime today = m_context.formats.now();
    const QDate todayDate(today.year, today.month, today.day);
    const QString shortDate = QLocale::system().dateFormat(QLocale::ShortFormat);
    auto datePicker = [&](const char* name) {
        auto* d = new QDateEdit(todayDate, this);
        d->setObjectName(name);
        d->setCalendarPopup(true);
        d->setDisplayFormat(shortDate);
        return d;
    };
    Label1 = new QLabel("From", this);
    Label1->setObjectName("Label1");
    Date_from = datePicker("Date_from");
    Date_from->setToolTip("First day of the report");
    Label1->setBuddy(Date_from);
    Label2 = new QLabel("to", this);
    Label2->setObjectName("Label2");
    Date_to = datePicker("Date_to");
    Date_to->setToolTip("Last day of the report");
    Label2->setBuddy(Date_to);

    BitBtn1 = namedButton("Report", "BitBtn1", "List the saved readings of these days (Enter)", this);
    BitBtn2 = namedButton("Export", "BitBtn2", "Write the report to a CSV file", this);
    BitBtn3 = namedButton("Delete All", "BitBtn3", "Delete every saved reading", this);
    QFont bold = BitBtn3->font();
    bold.setBold(true);
    BitBtn3->setFont(bold);

    bar->addWidget(Label1);
    bar->addWidget(Date_from);
    bar->addSpacing(8);
    bar->addWidget(Label2);
    bar->addWidget(Date_to);
    bar->addSpacing(16);
    bar->addWidget(BitBtn1);
    bar->addWidget(BitBtn2);
    bar->addStretch(1);
    bar->addWidget(BitBtn3);
    layout->addLayout(bar);

    m_model = new ReportModel(this);
    Grid_reports = new QTableView(this);
    Grid_reports->setObjectName("Grid_reports");
    Grid_reports->setModel(m_model);
    Grid_reports->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid_reports->setWordWrap(false);
    Grid_reports->verticalHeader()->setVisible(false);
    // Fixed row heights: a report of many thousand rows never measures its rows.
    Grid_reports->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Grid_reports->verticalHeader()->setDefaultSectionSize(Grid_reports->fontMetrics().height() + 6);
    Grid_reports->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Grid_reports->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // Widths for the usual texts of each column, or its title; the operator may resize them.
    const QFontMetrics fm(Grid_reports->font());
    const int charWidth = fm.horizontalAdvance(QLatin1Char('0'));
    for (int c = 0; c < ReportModel::kColumns; ++c) {
        const int title = fm.horizontalAdvance(QString::fromLatin1(ReportModel::titles()[static_cast<size_t>(c)]));
        Grid_reports->setColumnWidth(c, std::max(title, kColumnChars[c] * charWidth) + 12);
    }
    Grid_reports->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(Grid_reports, 1);

    auto* progress = new QHBoxLayout;
    Progress_report = new QProgressBar(this);
    Progress_report->setObjectName("Progress_report");
    Progress_report->setRange(0, kProgressSteps);
    Progress_report->setToolTip("Part of the saved readings read so far");
    Butt_cancel = namedButton("Cancel", "Butt_cancel", "Stop the report; the rows found so far stay (Esc)", this);
    progress->addWidget(Progress_report, 1);
    progress->addWidget(Butt_cancel);
    layout->addLayout(progress);
    Progress_report->setVisible(false);
    Butt_cancel->setVisible(false);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    QAction* clear = PopupMenu1->addAction("Clear");
    clear->setObjectName("Clear1");
    QAction* exportCsv = PopupMenu1->addAction("Export to CSV");
    exportCsv->setObjectName("ExporttoCSV1");

    m_slices = new QTimer(this);
    m_slices->setSingleShot(true);
    m_slices->setInterval(0);

    connect(BitBtn1, &QPushButton::clicked, this, &TForm2::report);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm2::exportReport);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm2::deleteAll);
    connect(Butt_cancel, &QPushButton::clicked, this, &TForm2::cancelReport);
    connect(clear, &QAction::triggered, this, &TForm2::clearReport);
    connect(exportCsv, &QAction::triggered, this, &TForm2::exportReport);
    connect(m_slices, &QTimer::timeout, this, &TForm2::readSlice);
    connect(Grid_reports, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(Grid_reports->viewport()->mapToGlobal(at)); });

    resize(1000, 560);
}

void TForm2::open()
{
    showCentredOver(this, m_mainWindow);
}

void TForm2::report()
{
    if (reportRunning())
        return;
    // Such a range holds no day: the report would be empty without a word why.
    if (Date_from->date() > Date_to->date()) {
        m_model->clear();
        m_context.op.showMessage(kProgramCaption,
                                 "The date range ends before it starts: \"to\" " + Date_to->text().toStdString()
                                     + " is before \"From\" " + Date_from->text().toStdString()
                                     + ".\nChoose a \"to\" day on or after the \"From\" day.",
                                 MessageIcon::Warning);
        emit reportEnded();
        return;
    }
    // Whole days: from the first day's start to the last day's end.
    auto scan = std::make_unique<ReportScan>(m_context.paths.dataFolder() / kMeasurementFileName,
                                             dateOf(Date_from->date()), dateOf(Date_to->date()), m_context.formats);
    const FileOutcome opened = scan->open();
    if (opened.status == FileStatus::Missing)
        return;
    m_model->clear(true);
    if (!opened.ok()) {
        m_context.errorLog.LogErrorCode(logcode::DbReport);
        m_context.errorLog.LogErrorText(opened.error);
        m_context.op.showMessage(kProgramCaption, "Exception reading data, check log file", MessageIcon::Warning);
        emit reportEnded();
        return;
    }
    m_scan = std::move(scan);
    setRunning(true);
    readSlice();
}

void TForm2::readSlice()
{
    if (!m_scan)
        return;
    QElapsedTimer clock;
    clock.start();
    ReportScan::Step step;
    do
        step = m_scan->next(m_model->rows(), m_recordsPerRead);
    while (step == ReportScan::Step::More && clock.elapsed() < m_sliceMs);
    m_model->publish();

    if (step == ReportScan::Step::More) {
        // Only a report that outlasts one slice shows its progress.
        const double done = static_cast<double>(m_scan->recordsRead()) / static_cast<double>(m_scan->recordCount());
        Progress_report->setValue(static_cast<int>(done * kProgressSteps));
        Progress_report->setVisible(true);
        Butt_cancel->setVisible(true);
        m_slices->start();
        return;
    }
    // Each record passed over for its date is logged as a failed read was (the first ten by
    // number, the rest counted), and the operator is told once, with the whole report shown.
    const std::vector<std::string>& skipped = m_scan->skipped();
    for (const std::string& text : skipped) {
        m_context.errorLog.LogErrorCode(logcode::DbReport);
        m_context.errorLog.LogErrorText(text);
    }
    if (m_scan->skippedCount() > skipped.size()) {
        m_context.errorLog.LogErrorCode(logcode::DbReport);
        m_context.errorLog.LogErrorText(std::to_string(m_scan->skippedCount() - skipped.size())
                                        + " more records of " + kMeasurementFileName + " with an invalid date passed over");
    }
    if (step == ReportScan::Step::Failed) {
        m_context.errorLog.LogErrorCode(logcode::DbReport);
        m_context.errorLog.LogErrorText(m_scan->error());
    }
    if (step == ReportScan::Step::Failed || m_scan->skippedCount() > 0)
        m_context.op.showMessage(kProgramCaption, "Exception reading data, check log file", MessageIcon::Warning);
    endReport();
}

void TForm2::setSlice(std::size_t recordsPerRead, int milliseconds)
{
    m_recordsPerRead = std::max<std::size_t>(recordsPerRead, 1);
    m_sliceMs = milliseconds;
}

void TForm2::cancelReport()
{
    if (reportRunning())
        endReport();
}

void TForm2::endReport()
{
    m_slices->stop();
    m_scan.reset();
    setRunning(false);
    // Columns widen to what the first rows show; the operator's own widths are not narrowed.
    emit reportEnded();
}

void TForm2::setRunning(bool running)
{
    for (QWidget* w : std::initializer_list<QWidget*>{BitBtn1, BitBtn2, BitBtn3, Date_from, Date_to})
        w->setEnabled(!running);
    if (!running) {
        Progress_report->setVisible(false);
        Butt_cancel->setVisible(false);
        Progress_report->setValue(0);
    }
}

void TForm2::exportReport()
{
    if (reportRunning())
        return;
    const ReportModel& model = *m_model;
    ExportRowsCsv(
        model.rowCount(), [&model](int row, std::vector<std::string>& cells) { model.rowCells(row, cells); },
        "meterData_export.csv", m_context.settings.ExportSeparator, m_context.paths.dataFolder(), m_context.op,
        m_context.errorLog, nullptr, kReportExportTitle);
}

void TForm2::deleteAll()
{
    if (reportRunning())
        return;
    if (!m_context.op.askYesNo("Delete Confirmation", "Are you sure you want to delete ALL savings?",
                               MessageIcon::Warning))
        return;
    MeasurementFile file(m_context.paths.dataFolder(), m_context.errorLog, m_context.formats);
    const FileOutcome outcome = file.Truncate();
    if (outcome.status == FileStatus::Missing) {
        m_context.errorLog.LogErrorCode(logcode::DbMissingAtDeleteAll);
        return;
    }
    if (!outcome.ok()) {
        m_context.errorLog.LogErrorCode(logcode::DbTruncate);
        m_context.errorLog.LogErrorText(kCantTruncateDbText);
        m_context.op.showMessage(kProgramCaption, "Can not delete saved data in file, read-only?",
                                 MessageIcon::Warning);
        return;
    }
    m_model->clear();
}

void TForm2::clearReport()
{
    cancelReport();
    m_model->clear();
}

void TForm2::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        report();
        return;
    }
    // Esc stops a report that runs, and otherwise closes the window as in every small window.
    if (event->key() == Qt::Key_Escape) {
        if (reportRunning())
            cancelReport();
        else
            close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TForm2::closeEvent(QCloseEvent* event)
{
    clearReport();
    event->accept();
}

} // namespace palvero
