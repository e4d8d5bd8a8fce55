// trel-parser: the parsing process the loader starts from a program with
// threads, which must not fork a copy of itself to parse (see start.cpp).
#include "load.h"

int main(int argc, char **argv) { return trel::loader::parsermain(argc, argv); }
