#pragma once

#include <QLabel>
#include <QPushButton>

namespace palvero {

// A button named as the operator's manual names it, with its tooltip. It never becomes a
// dialog's default button by itself: Enter is given its meaning by each window.
inline QPushButton* namedButton(const char* caption, const char* name, const char* tip, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setToolTip(tip);
    b->setAutoDefault(false);
    return b;
}

inline QLabel* namedLabel(const char* caption, const char* name, QWidget* parent)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    return l;
}

} // namespace palvero
