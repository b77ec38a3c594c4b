#pragma once

#include <QEvent>
#include <QLabel>
#include <QTextDocument>

// A label for status text that may outgrow its place in the fixed layout: the whole text shows as
// the label's tooltip whenever it does not fit, always as plain text, since it may come from the
// network. Assistive technology reads it with its heading (app/accessibility.h).
class StatusLabel final : public QLabel
{
    Q_OBJECT
public:
    // The text is set once the label is a StatusLabel: QLabel's constructor would announce it to
    // assistive technology while the object is still a plain QLabel, and be read as one for good.
    StatusLabel(const QString &text, QWidget *parent) : QLabel(parent) { setText(text); }

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
