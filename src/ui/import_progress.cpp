#include "import_progress.h"

#include <QCoreApplication>
#include <QProgressDialog>

#include <algorithm>

namespace palvero {

namespace {

// The bar counts in thousandths, so that files beyond 2 GB fit its integer range.
constexpr int kSteps = 1000;

} // namespace

ImportProgressWindow::ImportProgressWindow(QWidget* parent, QString label, int showAfterMs)
    : m_parent(parent)
    , m_label(std::move(label))
    , m_showAfterMs(showAfterMs)
{
    m_clock.start();
}

ImportProgressWindow::~ImportProgressWindow()
{
    delete m_dialog;
}

ImportProgress ImportProgressWindow::callback()
{
    return [this](std::uint64_t done, std::uint64_t total) { return tick(done, total); };
}

bool ImportProgressWindow::tick(std::uint64_t done, std::uint64_t total)
{
    if (!m_dialog) {
        // The time counts from the start of the reading, not from the file dialog before it.
        if (done == 0)
            m_clock.restart();
        if (m_clock.elapsed() < m_showAfterMs)
            return true;
        m_dialog = new QProgressDialog(m_label, QStringLiteral("Cancel"), 0, kSteps, m_parent);
        m_dialog->setObjectName("ImportProgress");
        m_dialog->setWindowTitle(QStringLiteral("Palvero"));
        m_dialog->setWindowModality(Qt::ApplicationModal);
        m_dialog->setMinimumDuration(0);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        // A pipe or a device tells no size: the bar then only shows that the work goes on.
        if (total == 0)
            m_dialog->setRange(0, 0);
        m_dialog->show();
    }
    if (total > 0)
        m_dialog->setValue(static_cast<int>(std::min<std::uint64_t>(done, total) * kSteps / total));
    QCoreApplication::processEvents();
    return m_dialog && !m_dialog->wasCanceled();
}

} // namespace palvero
