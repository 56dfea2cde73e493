// Leak-checker defaults for the example host when the tree is built with
// AddressSanitizer: calls load GStreamer, whose plugin registry and GLib's
// library-constructor blocks live until the process ends. Only those
// allocations are excused; finding them needs whole stacks, as GLib is built
// without frame pointers. Not part of what a host needs.
extern "C" {

const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

const char* __lsan_default_suppressions() {
    return "leak:_dl_init\nleak:g_malloc\nleak:g_malloc0\nleak:g_realloc\nleak:libgstreamer-1.0\n"
           "leak:libglib-2.0\nleak:libgobject-2.0\n";
}
}
