#include "app/accessibility.h"
#include "app/frmDDNS.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

namespace {

// A status value read with its heading. The heading is the label whose buddy the value is; the
// name is built afresh from both whenever it is read, and QLabel::setText announces each change.
class HeadedValue final : public QAccessibleWidget
{
public:
    explicit HeadedValue(QLabel *value) : QAccessibleWidget(value, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !widget()->accessibleName().isEmpty())
            return QAccessibleWidget::text(t);
        QString value = static_cast<const QLabel *>(widget())->text();
        const auto headings = relations(QAccessible::Label);
        if (headings.isEmpty())
            return value;
        const QString heading = captionWords(headings.first().first->text(QAccessible::Name));
        return value.isEmpty() ? heading : heading + QStringLiteral(": ") + value;
    }
};

QAccessibleInterface *windowParts(const QString &className, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (widget == nullptr)
        return nullptr;
    if (className == QLatin1String("frmDDNS"))
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (className == QLatin1String("StatusLabel"))
        return new HeadedValue(static_cast<QLabel *>(widget));
    // The window's lines are bare frames; Qt would read them as borders.
    if (object->metaObject() == &QFrame::staticMetaObject && qobject_cast<frmDDNS *>(object->parent()) != nullptr)
        return new QAccessibleWidget(widget, QAccessible::Separator);
    return nullptr;
}

} // namespace

void installAccessibleInterfaces()
{
    [[maybe_unused]] static const bool installed = [] {
        QAccessible::installFactory(windowParts);
        return true;
    }();
}

QString captionWords(const QString &caption)
{
    QString words = caption.trimmed();
    if (words.endsWith(QLatin1Char(':')))
        words.chop(1);
    return words.trimmed();
}

void nameBy(QLabel *caption, QWidget *control)
{
    caption->setBuddy(control);
    control->setAccessibleName(captionWords(caption->text()));
}
