// Leak-checker defaults for this test program: the tones load GStreamer, and
// GLib allocates a block in its library constructor that it never frees.
// Only allocations made while libraries load are excused; that needs whole
// stacks, as GLib is built without frame pointers.
extern "C" {

const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

const char* __lsan_default_suppressions() { return "leak:_dl_init\n"; }

}
