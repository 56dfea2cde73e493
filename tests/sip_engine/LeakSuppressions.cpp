// GStreamer, asked once whether a G.729 encoder is installed, keeps its
// plugin registry in glib allocations for the life of the process; the leak
// checker would report them at exit. Only glib's own allocations are waived.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:g_malloc\nleak:g_malloc0\nleak:g_realloc\nleak:libgstreamer-1.0\nleak:libglib-2.0\nleak:libgobject-2.0\n";
}
