// Every window of the program on a small screen: opened through its command, it lies
// wholly on the screen, can be resized, reaches every control (scrolling where its
// content is taller than the screen) and closes with Esc. The test runs once per screen:
// the build starts it on an offscreen screen of 1366 x 768 at 150 % and of 1280 x 720 at
// 100 % (QT_QPA_PLATFORM with a screen configuration, QT_SCALE_FACTOR).

#include "program.h"
#include "temp_dir.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QtTest>

#include <memory>

using namespace palvero;
using palvero::test::TempDir;

namespace {

// The controls an operator uses, shown in the window as it is now.
QList<QWidget*> controlsOf(QWidget* window)
{
    QList<QWidget*> controls;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w)
            || qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QAbstractItemView*>(w)
            || qobject_cast<QPlainTextEdit*>(w)
            || (qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w->parentWidget())
                && !qobject_cast<QAbstractSpinBox*>(w->parentWidget()));
        // Parts of other controls (the list of a combo box, a view's own buttons) are not counted.
        bool inner = false;
        for (QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
            inner = inner || qobject_cast<QAbstractItemView*>(p) || qobject_cast<QComboBox*>(p)
                || qobject_cast<QAbstractSpinBox*>(p);
        if (control && !inner && w->window() == window && w->isVisibleTo(window))
            controls << w;
    }
    return controls;
}

// Whether the operator can reach the control: brought into view by its scroll area, if it
// is in one, at least 8 x 8 pixels of it lie inside the window and inside every area that
// clips it. Gives why not.
QString unreachable(QWidget* window, QWidget* control)
{
    for (QWidget* p = control->parentWidget(); p && p != window; p = p->parentWidget())
        if (auto* area = qobject_cast<QScrollArea*>(p))
            area->ensureWidgetVisible(control, 0, 0);
    QRect seen = QRect(control->mapTo(window, QPoint(0, 0)), control->size()) & window->rect();
    for (QWidget* p = control->parentWidget(); p && p != window; p = p->parentWidget())
        seen &= QRect(p->mapTo(window, QPoint(0, 0)), p->size());
    if (seen.width() >= 8 && seen.height() >= 8)
        return {};
    return QString("only %1x%2 of it can be seen").arg(seen.width()).arg(seen.height());
}

} // namespace

class ScreenFitTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void windowFitsAndReachesEveryControl_data();
    void windowFitsAndReachesEveryControl();

private:
    TempDir m_dir;
    std::unique_ptr<Program> m_program;
};

void ScreenFitTest::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    const QScreen* screen = QGuiApplication::primaryScreen();
    qInfo("screen %dx%d logical at %.2f", screen->availableGeometry().width(), screen->availableGeometry().height(),
          screen->devicePixelRatio());
    std::filesystem::create_directories(m_dir / "files");
    std::filesystem::create_directories(m_dir / "template");
    for (const char* f : {"files/meters.mrv", "files/db.mrv", "template/tmplates.dat"})
        palvero::test::writeFile(m_dir / f, "");
    // The widest table and both receiver groups' worth of settings.
    palvero::test::writeFile(m_dir / "palvero.ini", "[Wireless]\r\nV1=1\r\nV2=0\r\n[Titles]\r\nCount=16\r\n");
    m_program = std::make_unique<Program>(m_dir / "palvero");
    m_program->show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_program->mainWindow()));
}

void ScreenFitTest::windowFitsAndReachesEveryControl_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("window");
    QTest::addColumn<bool>("escape"); // Esc closes it
    const struct {
        const char* command;
        const char* window;
        bool escape;
    } windows[] = {
        {"TForm1", "TForm1", false},
        {"Settings1", "TSettings", true},
        {"Reports1", "TForm2", true},
        {"Templates1", "TTemplates", true},
        {"SavedMeters1", "TMetersView", true},
        {"Viewsignalstrenght1", "TForm5", true},
        {"Fulldecode1", "TFullDecode", true},
        {"Exportdata1", "TForm3", true},
        {"EnterAES128key1", "TEnterAES", true},
        {"About1", "TForm4", true},
        {"Unreadmeters1", "TUnreadMeters", true},
        {"Colours1", "TColourLegend", true},
        {"Decodetelegram1", "DecodeTelegramDialog", true},
    };
    for (const auto& w : windows)
        QTest::newRow(w.window) << w.command << w.window << w.escape;
}

void ScreenFitTest::windowFitsAndReachesEveryControl()
{
    QFETCH(QString, command);
    QFETCH(QString, window);
    QFETCH(bool, escape);

    TForm1& main = m_program->mainWindow();
    if (command != "TForm1") {
        QAction* action = main.findChild<QAction*>(command);
        QVERIFY2(action, qPrintable(command));
        action->trigger();
    }
    QWidget* shown = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == window && w->isVisible())
            shown = w;
    QVERIFY2(shown, qPrintable(window + " is not shown"));
    QVERIFY(QTest::qWaitForWindowExposed(shown));
    QTest::qWait(50); // the second look at the frame, once the window system framed it

    const QRect screen = shown->screen()->availableGeometry();
    const QRect frame = shown->frameGeometry();
    QVERIFY2(screen.contains(frame), qPrintable(QString("frame at %1,%2 of %3x%4")
                                                    .arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())));
    QVERIFY2(shown->minimumSize() != shown->maximumSize(), "the window cannot be resized");
    QVERIFY(screen.size().expandedTo(shown->minimumSize()) == screen.size());

    // Every control, on every page.
    auto* pages = shown->findChild<QTabWidget*>();
    const int pageCount = pages ? pages->count() : 1;
    int checked = 0;
    for (int page = 0; page < pageCount; ++page) {
        if (pages)
            pages->setCurrentIndex(page);
        for (QWidget* control : controlsOf(shown)) {
            const QString why = unreachable(shown, control);
            QVERIFY2(why.isEmpty(), qPrintable(control->objectName() + " (" + control->metaObject()->className()
                                               + ") " + why));
            ++checked;
        }
    }
    QVERIFY(checked > 0);
    if (pages)
        pages->setCurrentIndex(0);

    if (escape) {
        QWidget* focus = shown->focusWidget() ? shown->focusWidget() : shown;
        QTest::keyClick(focus, Qt::Key_Escape);
        QTRY_VERIFY2(!shown->isVisible(), "Esc did not close the window");
    } else if (shown != &main) {
        shown->hide();
    }
}

QTEST_MAIN(ScreenFitTest)
#include "screen_fit_test.moc"
