// A shared library that is not the re-plug library: it has no "Replug" export.
extern "C" __attribute__((visibility("default"))) int NotReplug() {
  return 0;
}
