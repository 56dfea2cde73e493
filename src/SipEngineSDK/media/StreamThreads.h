#pragma once
// Threads for a pipeline's streaming tasks that end with the pipeline.
//
// GStreamer's default task pool hands finished streaming threads back to
// GLib, which keeps them parked for reuse after the pipeline is gone. A
// pipeline whose tasks run on this pool instead gets one thread per task,
// joined when the task is stopped, so no thread of a call outlives it.
//
// Threads: install() is called once per pipeline before it starts; the pool
// itself is called by GStreamer from any thread.
#include <gst/gst.h>

#include <string>

namespace client::media {

// Routes every streaming task the pipeline creates to a pool of joined threads.
void runTasksOnOwnThreads(GstElement* pipeline);

// Builds a pipeline from its launch text, owned by the caller and with its
// tasks on threads of their own (above). Null, with the parser's message in
// `error` (or `failure` when it gives none), when it cannot be built.
GstElement* launchPipeline(const std::string& description, const char* failure, std::string& error);

}  // namespace client::media
