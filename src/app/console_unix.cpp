// Unix: standard output, wherever it leads.
#include "app/console.h"

#include <cstdio>

void printAnswer(const char *text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}
