// Sanitizer suppressions for every test binary, read by the ASan and TSan
// runtimes (unused elsewhere). Each covers a library's internals, never ours.

// OpenSSL keeps per-thread state (its error queue) that it frees when the
// thread ends. A worker that is still finishing when the process exits after
// OpenSSL's own exit-time cleanup leaves that state behind; OpenSSL is built
// without frame pointers, so its allocations show no caller beyond its
// allocator and cannot be matched more narrowly.
extern "C" const char* __lsan_default_suppressions() {  // NOLINT(bugprone-reserved-identifier)
  return "leak:CRYPTO_zalloc\n";
}

// libpulse creates its mutexes lazily and publishes them through its own
// atomics, which ThreadSanitizer does not see (the library is not
// instrumented); locking such a mutex then looks like a race with its malloc.
extern "C" const char* __tsan_default_suppressions() {  // NOLINT(bugprone-reserved-identifier)
  return "race:pa_mutex_lock\n";
}

// Referenced by the linker option -Wl,--undefined=oskelSanitizerSuppressionsAnchor:
// the sanitizer runtimes' own weak defaults would otherwise satisfy the link
// and leave this file out.
extern "C" {
[[maybe_unused]] int oskelSanitizerSuppressionsAnchor = 0;
}
