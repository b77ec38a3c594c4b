#pragma once

#include <QEvent>
#include <QLabel>
#include <QTextDocument>

// A label for status text that may outgrow its place in the fixed layout: the whole text shows as
// the label's tooltip whenever it does not fit, always as plain text, since it may come from the
// network.
class StatusLabel final : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::ToolTip) {
            const bool fits = fontMetrics().horizontalAdvance(text()) <= contentsRect().width();
            setToolTip(fits ? QString() : Qt::convertFromPlainText(text(), Qt::WhiteSpaceNormal));
        }
        return QLabel::event(e);
    }
};
