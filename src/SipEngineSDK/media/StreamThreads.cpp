#include "SipEngineSDK/media/StreamThreads.h"

#include <thread>

namespace client::media {

namespace {

struct JoinedTaskPool {
    GstTaskPool parent;
};

struct JoinedTaskPoolClass {
    GstTaskPoolClass parent;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
G_DEFINE_TYPE(JoinedTaskPool, joined_task_pool, GST_TYPE_TASK_POOL)
#pragma GCC diagnostic pop

void prepare(GstTaskPool*, GError**) {}
void cleanup(GstTaskPool*) {}

gpointer push(GstTaskPool*, GstTaskPoolFunction function, gpointer data, GError** error) {
    try {
        return new std::thread([function, data] { function(data); });
    } catch (const std::system_error& e) {
        g_set_error(error, GST_CORE_ERROR, GST_CORE_ERROR_FAILED, "cannot start a streaming thread: %s", e.what());
        return nullptr;
    }
}

void join(GstTaskPool*, gpointer id) {
    auto* thread = static_cast<std::thread*>(id);
    if (thread->joinable()) thread->join();
    delete thread;
}

// A handle given up without a join: the task ended on its own.
void disposeHandle(GstTaskPool*, gpointer id) {
    auto* thread = static_cast<std::thread*>(id);
    if (thread->joinable()) thread->detach();
    delete thread;
}

void joined_task_pool_class_init(JoinedTaskPoolClass* klass) {
    GstTaskPoolClass* pool = GST_TASK_POOL_CLASS(klass);
    pool->prepare = prepare;
    pool->cleanup = cleanup;
    pool->push = push;
    pool->join = join;
    pool->dispose_handle = disposeHandle;
}

void joined_task_pool_init(JoinedTaskPool*) {}

GstBusSyncReply onStreamStatus(GstBus*, GstMessage* message, gpointer pool) {
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_STREAM_STATUS) return GST_BUS_PASS;
    GstStreamStatusType type;
    GstElement* owner = nullptr;
    gst_message_parse_stream_status(message, &type, &owner);
    if (type != GST_STREAM_STATUS_TYPE_CREATE) return GST_BUS_PASS;
    const GValue* value = gst_message_get_stream_status_object(message);
    if (value && G_VALUE_HOLDS(value, GST_TYPE_TASK)) {
        gst_task_set_pool(GST_TASK(g_value_get_object(value)), static_cast<GstTaskPool*>(pool));
    }
    return GST_BUS_PASS;
}

}  // namespace

void runTasksOnOwnThreads(GstElement* pipeline) {
    GstTaskPool* pool = GST_TASK_POOL(g_object_new(joined_task_pool_get_type(), nullptr));
    GstBus* bus = gst_element_get_bus(pipeline);
    // The bus keeps the pool until the pipeline is freed.
    gst_bus_set_sync_handler(bus, &onStreamStatus, pool, [](gpointer p) { gst_object_unref(p); });
    gst_object_unref(bus);
}

GstElement* launchPipeline(const std::string& description, const char* failure, std::string& error) {
    GError* parseError = nullptr;
    GstElement* pipeline =
        gst_parse_launch_full(description.c_str(), nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &parseError);
    if (!pipeline || parseError) {
        error = parseError ? parseError->message : failure;
        if (parseError) g_error_free(parseError);
        if (pipeline) gst_object_unref(pipeline);
        return nullptr;
    }
    gst_object_ref_sink(pipeline);
    runTasksOnOwnThreads(pipeline);
    return pipeline;
}

}  // namespace client::media
