// Leak-checker defaults for this test program.
//
// GLib allocates a block in its library constructor and never frees it; the
// leak checker reports it at exit of every process that loads GStreamer.
// Only allocations made while libraries are being loaded are excused, which
// needs whole stacks: GLib and GStreamer are built without frame pointers,
// so the fast unwinder stops at g_malloc and could not tell that block from
// a GStreamer object we forgot to release.
//
// The H.264 parser of GStreamer 1.22 loses a small value when the picture
// size it announces is refused downstream, which the oversized-picture test
// does on purpose; allocations made inside that parser are excused.
//
// GLib keeps interned strings for the life of the process in blocks it
// never frees; once the codecs' plugins have interned enough names to fill
// the first block, that block is reported. Only g_intern_string's are excused.
extern "C" {

const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

const char* __lsan_default_suppressions() { return "leak:_dl_init\nleak:libgstvideoparsersbad.so\nleak:g_intern_string\n"; }

}
