// Leaks inside system libraries that Qt loads once per process are not ours.
extern "C" const char *__lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libdbus\n";
}
