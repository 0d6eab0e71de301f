// What the children of both systems share: the pipe's line reading and its closing.
#include "support/child_process.h"

namespace kivtest {

OutputPipe::~OutputPipe() {
  closeReadEnd();
  closeWriteEnd();
}

bool OutputPipe::readLine(std::string* line) {
  line->clear();
  char byte = 0;
  while (readByte(&byte)) {
    *line += byte;
    if (byte == '\n') return true;
  }
  return false;
}

}  // namespace kivtest
