#include "elided_label.h"

#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace palvero {

ElidedLabel::ElidedLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

QString ElidedLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

bool ElidedLabel::isElided() const
{
    return shownText() != text();
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    style()->drawItemText(&p, contentsRect(), int(alignment()), palette(), isEnabled(), shownText(), foregroundRole());
}

bool ElidedLabel::event(QEvent* e)
{
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        if (isElided())
            QToolTip::showText(help->globalPos(), text(), this);
        else if (toolTip().isEmpty())
            QToolTip::hideText();
        else
            return QLabel::event(e);
        return true;
    }
    return QLabel::event(e);
}

QSize ElidedLabel::minimumSizeHint() const
{
    // Any width will do: the text is cut to fit.
    return QSize(fontMetrics().horizontalAdvance(QStringLiteral("...")), QLabel::minimumSizeHint().height());
}

} // namespace palvero
