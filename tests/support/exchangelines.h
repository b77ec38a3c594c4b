#pragma once
// The program's vestrel.exchange lines, info included, kept from the moment keepExchangeLines() is
// called to the end of the test program, for tests of what the program says about the system.

#include <QLoggingCategory>
#include <QMutex>
#include <QStringList>

inline QStringList &exchangeLinesStore()
{
    static QStringList lines;
    return lines;
}

inline QMutex &exchangeLinesMutex()
{
    static QMutex mutex;
    return mutex;
}

inline void keepExchangeLines()
{
    QLoggingCategory::setFilterRules(QStringLiteral("vestrel.exchange.info=true"));
    static const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            if (context.category && qstrcmp(context.category, "vestrel.exchange") == 0) {
                const QMutexLocker lock(&exchangeLinesMutex());
                exchangeLinesStore() << message;
            }
            if (previous)
                previous(type, context, message);
        });
}

// How many of the kept lines contain the text.
inline qsizetype exchangeLinesWith(const QString &text)
{
    const QMutexLocker lock(&exchangeLinesMutex());
    return exchangeLinesStore().filter(text).size();
}
