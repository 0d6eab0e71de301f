// A library with an init entry but no TQCreateInstance: the factory must refuse it.
#include "TQTypes.h"

extern "C" TQ_API int TQInit(void*) { return 1; }
