#include "progress.h"

Progress read_progress(const char*, Progress previous)
{
    return previous;
}
