// Leaks inside system libraries that Qt loads once per process are not ours.
extern "C" const char *__lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libdbus\n";
}

// The leak check's runtime takes a library's thread-local block that glibc
// allocated with malloc for one laid out by glibc before 2.25 whenever the
// block happens to start 16 bytes into a page, and reads the allocator's
// chunk header in front of it as that block's bounds: the check then scans
// a range that is not memory and dies after every test has passed ("Tracer
// caught signal 11"). Where the block lands follows every allocation made
// before it, so any change anywhere can set it off. The runtime is not told
// of those blocks at all.
extern "C" const char *__asan_default_options() { return "intercept_tls_get_addr=0"; }
