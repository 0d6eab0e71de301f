// A library with an init entry but no TQCreateInstance: the factory must refuse it.
extern "C" __attribute__((visibility("default"))) int TQInit(void*) { return 1; }
