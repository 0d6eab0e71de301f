// ZeroMQ is not built with ThreadSanitizer, so its hand-over of message buffers between its
// I/O thread and ours (lock-free pipes) shows up as races inside it. Only those reports are
// suppressed; the bus's own threads stay checked.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libzmq.so.5\n"
         "race:libzmq.so.5\n";
}
