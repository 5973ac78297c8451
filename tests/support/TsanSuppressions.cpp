// GLib and GIO hand memory between their own threads (the D-Bus worker, our portal thread)
// under their own atomics, which ThreadSanitizer cannot see: it would call those hand-overs
// races. Their calls into the sanitizer's interceptors are left out; our code is still checked.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libgio-2.0.so.0\n"
           "called_from_lib:libgobject-2.0.so.0\n";
}
#endif
