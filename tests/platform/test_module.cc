// A loadable module with one symbol, to look modules up by address.
extern "C" int platformTestModuleSymbol() { return 42; }
