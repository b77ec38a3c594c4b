#pragma once

#include <QString>

// Reads the service's replies as one stream of text (filled in with the reply handling).
class ReplyReader
{
public:
    QString carried;
};
