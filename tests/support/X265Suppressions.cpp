// For tests that encode with libx265: the library always encodes on threads of
// its own, handing work over in ways ThreadSanitizer does not see, and keeps
// some of an encoder's memory after the encoder is closed. Neither is ours; the
// sanitizers are told to leave the library alone.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libx265\n";
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265\n";
}
