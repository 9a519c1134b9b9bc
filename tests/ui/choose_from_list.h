#pragma once

// Choosing from a combo box's list as the operator does, for the window tests.

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QStyleOptionComboBox>
#include <QtTest>

namespace palvero::test {

// Opens a combo box's list as the operator does and chooses an item in it: with the
// mouse (a click on the arrow, then on the item) or with the keyboard (Alt+Down, the
// arrow keys, Enter). False when the list did not open or close.
inline bool chooseFromList(QComboBox* combo, const QString& item, bool mouse)
{
    const int index = combo->findText(item, Qt::MatchExactly);
    if (index < 0)
        return false;
    QAbstractItemView* list = combo->view();
    if (mouse) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = combo->isEditable();
        const QRect arrow =
            combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, combo);
        QTest::mouseClick(combo, Qt::LeftButton, {}, arrow.center());
    } else {
        combo->setFocus(Qt::TabFocusReason);
        QTest::keyClick(combo, Qt::Key_Down, Qt::AltModifier);
    }
    if (!QTest::qWaitFor([list] { return list->isVisible(); }, 3000))
        return false;
    if (mouse) {
        // The list takes no click within a double-click time of opening.
        QTest::qWait(QApplication::doubleClickInterval() + 100);
        const QModelIndex at = list->model()->index(index, combo->modelColumn(), combo->rootModelIndex());
        list->scrollTo(at);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(at).center());
    } else {
        const int from = list->currentIndex().row();
        for (int i = from; i < index; ++i)
            QTest::keyClick(list, Qt::Key_Down);
        for (int i = from; i > index; --i)
            QTest::keyClick(list, Qt::Key_Up);
        QTest::keyClick(list, Qt::Key_Return);
    }
    if (!QTest::qWaitFor([list] { return !list->isVisible(); }, 3000))
        return false;
    // Whatever the window does when the focus comes back from the list has happened.
    QTest::qWait(200);
    return true;
}

} // namespace palvero::test
