#pragma once

#include <QLabel>

namespace palvero {

// A status-bar label that keeps its whole text (text() gives it) but draws it cut with an
// ellipsis when it does not fit, and then shows the whole text as its tooltip.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    bool isElided() const;
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    QSize minimumSizeHint() const override;
};

} // namespace palvero
