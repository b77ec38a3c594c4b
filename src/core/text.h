#pragma once

#include <QString>

// Removes spaces, and only spaces, at both ends: a tab or any other blank is part of the value.
inline QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.sliced(begin, end - begin);
}
