#include "app/Portal.h"

#include <gio/gio.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "base/Log.h"

namespace vornik {
namespace {

constexpr const char* kBusName = "org.freedesktop.portal.Desktop";
constexpr const char* kObjectPath = "/org/freedesktop/portal/desktop";
constexpr const char* kAppearance = "org.freedesktop.appearance";
// Long enough for the portal to be started on demand; after this a chooser program steps in.
constexpr int kCallTimeoutMs = 8000;

std::optional<ColorScheme> colorSchemeFrom(GVariant* value) {
    // Settings.Read wraps the value in one variant more than SettingChanged does.
    GVariant* v = g_variant_ref(value);
    while (g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(v);
        g_variant_unref(v);
        v = inner;
    }
    std::optional<ColorScheme> scheme;
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32)) {
        const guint32 n = g_variant_get_uint32(v);
        scheme = n == 1   ? ColorScheme::PreferDark
                 : n == 2 ? ColorScheme::PreferLight
                          : ColorScheme::NoPreference;
    }
    g_variant_unref(v);
    return scheme;
}

std::string remoteError(GError* error) {
    if (g_dbus_error_is_remote_error(error)) g_dbus_error_strip_remote_error(error);
    return error->message;
}

}  // namespace

struct Portal::Impl {
    struct FileRequest {
        Impl* impl;
        std::function<void(const Choice&)> done;
        std::string handle;
        guint subscription = 0;
        bool callDone = false;  // OpenFile's reply came (or failed)
        bool finished = false;  // the answer is on its way to the main thread
    };

    explicit Impl(RunLoop& loop) : runLoop(loop) {}

    RunLoop& runLoop;
    std::shared_ptr<char> alive = std::make_shared<char>();
    std::weak_ptr<char> aliveWeak = alive;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    std::thread thread;

    // From the main thread to the portal thread, and the first colour scheme read back.
    std::mutex mutex;
    std::vector<std::function<void()>> requests;
    std::condition_variable schemeReadChanged;
    bool schemeRead = false;
    std::optional<ColorScheme> firstScheme;

    // The portal thread's own.
    GDBusConnection* bus = nullptr;
    bool closing = false;                  // the loop has ended: no new calls
    std::atomic<bool> unreachable{false};  // written once by the thread, read by main
    std::string busProblem;
    int callsInFlight = 0;
    guint settingSubscription = 0;
    std::function<void(ColorScheme)> schemeChanged;
    std::list<FileRequest> fileRequests;
    unsigned nextToken = 0;

    // Main thread: hands `work` to the portal thread.
    void submit(std::function<void()> work) {
        {
            std::lock_guard lock(mutex);
            requests.push_back(std::move(work));
        }
        GSource* source = g_idle_source_new();
        g_source_set_callback(source, &Impl::drain, this, nullptr);
        g_source_attach(source, context);
        g_source_unref(source);
    }

    static gboolean drain(gpointer data) {
        auto* self = static_cast<Impl*>(data);
        std::vector<std::function<void()>> work;
        {
            std::lock_guard lock(self->mutex);
            work.swap(self->requests);
        }
        for (auto& w : work) w();
        return G_SOURCE_REMOVE;
    }

    // Portal thread: runs `work` on the main thread, unless the portal is gone by then.
    void answer(std::function<void()> work) {
        runLoop.post([alive = aliveWeak, work = std::move(work)] {
            if (alive.lock()) work();
        });
    }

    void run() {
        g_main_context_push_thread_default(context);
        connect();
        g_main_loop_run(loop);
        closing = true;
        if (bus != nullptr) {
            if (settingSubscription != 0) {
                g_dbus_connection_signal_unsubscribe(bus, settingSubscription);
            }
            for (FileRequest& r : fileRequests) {
                if (r.subscription != 0) g_dbus_connection_signal_unsubscribe(bus, r.subscription);
            }
            g_dbus_connection_close_sync(bus, nullptr, nullptr);
            // Calls still in flight end now that the connection is closed.
            while (callsInFlight > 0) g_main_context_iteration(context, TRUE);
            g_object_unref(bus);
            bus = nullptr;
        }
        while (g_main_context_iteration(context, FALSE)) {
        }
        g_main_context_pop_thread_default(context);
    }

    void connect() {
        // The session bus as the environment names it, or the user's bus socket. Never GLib's
        // autolaunch: it would start a bus of its own that outlives us and has no portal.
        std::string address;
        if (const char* named = g_getenv("DBUS_SESSION_BUS_ADDRESS"); named && *named) {
            address = named;
        } else if (const char* runtime = g_getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
            gchar* socket = g_build_filename(runtime, "bus", nullptr);
            if (g_file_test(socket, G_FILE_TEST_EXISTS)) {
                gchar* escaped = g_dbus_address_escape_value(socket);
                address = std::string("unix:path=") + escaped;
                g_free(escaped);
            }
            g_free(socket);
        }
        if (address.empty()) {
            busProblem = "no session bus";
            unreachable = true;
            return;
        }
        GError* error = nullptr;
        bus = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        if (bus == nullptr) {
            busProblem = std::string("cannot reach the session bus (") + error->message + ")";
            g_error_free(error);
            unreachable = true;
            return;
        }
        g_dbus_connection_set_exit_on_close(bus, FALSE);
    }

    // --- The colour scheme ---------------------------------------------------------------------

    void startWatchingColorScheme() {
        if (bus == nullptr || closing) {
            firstSchemeRead(std::nullopt);
            return;
        }
        // Subscribed before the read, so that no change slips between the two.
        settingSubscription = g_dbus_connection_signal_subscribe(
            bus, kBusName, "org.freedesktop.portal.Settings", "SettingChanged", kObjectPath,
            kAppearance, G_DBUS_SIGNAL_FLAGS_NONE, &Impl::onSettingChanged, this, nullptr);
        ++callsInFlight;
        g_dbus_connection_call(bus, kBusName, kObjectPath, "org.freedesktop.portal.Settings",
                               "Read", g_variant_new("(ss)", kAppearance, "color-scheme"),
                               G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                               nullptr, &Impl::onSettingRead, this);
    }

    static void onSettingRead(GObject* source, GAsyncResult* result, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        --self->callsInFlight;
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        std::optional<ColorScheme> scheme;
        if (reply != nullptr) {
            GVariant* value = g_variant_get_child_value(reply, 0);
            scheme = colorSchemeFrom(value);
            g_variant_unref(value);
            g_variant_unref(reply);
        } else {
            g_error_free(error);  // no portal, or one without the setting: the fallback decides
        }
        self->firstSchemeRead(scheme);
    }

    void firstSchemeRead(std::optional<ColorScheme> scheme) {
        {
            std::lock_guard lock(mutex);
            schemeRead = true;
            firstScheme = scheme;
        }
        schemeReadChanged.notify_all();
        if (scheme) tellScheme(*scheme);
    }

    static void onSettingChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                 const gchar*, GVariant* parameters, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
        const gchar* nameSpace = nullptr;
        const gchar* key = nullptr;
        GVariant* value = nullptr;
        g_variant_get(parameters, "(&s&sv)", &nameSpace, &key, &value);
        if (g_strcmp0(nameSpace, kAppearance) == 0 && g_strcmp0(key, "color-scheme") == 0) {
            if (const auto scheme = colorSchemeFrom(value)) self->tellScheme(*scheme);
        }
        g_variant_unref(value);
    }

    void tellScheme(ColorScheme scheme) {
        if (!schemeChanged) return;
        answer([changed = schemeChanged, scheme] { changed(scheme); });
    }

    // --- The file chooser ----------------------------------------------------------------------

    void startOpenFile(const std::string& title, const std::string& parent,
                       const std::vector<std::string>& extensions,
                       std::function<void(const Choice&)> done) {
        FileRequest& request = fileRequests.emplace_back();
        request.impl = this;
        request.done = std::move(done);
        if (bus == nullptr || closing) {
            request.callDone = true;
            finish(request, {Choice::Outcome::Unavailable, {}}, busProblem);
            return;
        }
        // The request's object path is known before the call (the portal builds it from our
        // name and the token), so its answer cannot come before we listen.
        const std::string token = "vornik" + std::to_string(++nextToken);
        std::string sender = g_dbus_connection_get_unique_name(bus) + 1;  // without ':'
        std::replace(sender.begin(), sender.end(), '.', '_');
        listen(request, std::string(kObjectPath) + "/request/" + sender + "/" + token);

        GVariantBuilder patterns;
        g_variant_builder_init(&patterns, G_VARIANT_TYPE("a(us)"));
        for (const std::string& e : extensions) {
            std::string upper = e;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            g_variant_builder_add(&patterns, "(us)", 0u, ("*." + e).c_str());
            if (upper != e) g_variant_builder_add(&patterns, "(us)", 0u, ("*." + upper).c_str());
        }
        GVariant* filter = g_variant_ref_sink(
            g_variant_new("(s@a(us))", "Audio files", g_variant_builder_end(&patterns)));
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token",
                              g_variant_new_string(token.c_str()));
        g_variant_builder_add(&options, "{sv}", "modal", g_variant_new_boolean(TRUE));
        g_variant_builder_add(&options, "{sv}", "filters",
                              g_variant_new_array(G_VARIANT_TYPE("(sa(us))"), &filter, 1));
        g_variant_builder_add(&options, "{sv}", "current_filter", filter);
        g_variant_unref(filter);
        ++callsInFlight;
        g_dbus_connection_call(bus, kBusName, kObjectPath, "org.freedesktop.portal.FileChooser",
                               "OpenFile",
                               g_variant_new("(ssa{sv})", parent.c_str(), title.c_str(), &options),
                               G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                               nullptr, &Impl::onOpenFileCalled, &request);
    }

    void listen(FileRequest& request, const std::string& handle) {
        if (request.subscription != 0)
            g_dbus_connection_signal_unsubscribe(bus, request.subscription);
        request.handle = handle;
        request.subscription = g_dbus_connection_signal_subscribe(
            bus, kBusName, "org.freedesktop.portal.Request", "Response", handle.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, &Impl::onResponse, &request, nullptr);
    }

    static void onOpenFileCalled(GObject* source, GAsyncResult* result, gpointer data) {
        auto& request = *static_cast<FileRequest*>(data);
        Impl& self = *request.impl;
        --self.callsInFlight;
        request.callDone = true;
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (reply == nullptr) {
            self.finish(request, {Choice::Outcome::Unavailable, {}}, remoteError(error));
            g_error_free(error);
            return;
        }
        const gchar* handle = nullptr;
        g_variant_get(reply, "(&o)", &handle);
        // A portal older than the handle token names another path: listen there.
        if (!request.finished && request.handle != handle) self.listen(request, handle);
        g_variant_unref(reply);
        self.forgetIfDone(request);
    }

    static void onResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                           GVariant* parameters, gpointer data) {
        auto& request = *static_cast<FileRequest*>(data);
        if (request.finished || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) {
            return;
        }
        guint32 code = 2;
        GVariant* results = nullptr;
        g_variant_get(parameters, "(u@a{sv})", &code, &results);
        Choice choice{Choice::Outcome::Cancelled, {}};
        std::string problem;
        const gchar** uris = nullptr;
        if (code == 0 && g_variant_lookup(results, "uris", "^a&s", &uris) && uris && uris[0]) {
            if (gchar* path = g_filename_from_uri(uris[0], nullptr, nullptr)) {
                choice = {Choice::Outcome::Chosen, path};
                g_free(path);
            } else {
                logf("the file chooser gave \"%s\", which is not a local file", uris[0]);
            }
        } else if (code == 2) {
            choice.outcome = Choice::Outcome::Unavailable;
            problem = "its chooser failed";
        }
        g_free(uris);
        g_variant_unref(results);
        request.impl->finish(request, choice, problem);
    }

    void finish(FileRequest& request, const Choice& choice, const std::string& problem) {
        if (request.finished) return;
        request.finished = true;
        if (request.subscription != 0) {
            g_dbus_connection_signal_unsubscribe(bus, request.subscription);
            request.subscription = 0;
        }
        if (choice.outcome == Choice::Outcome::Unavailable) {
            logf("no file chooser from the desktop portal (%s)", problem.c_str());
        }
        answer([done = std::move(request.done), choice] { done(choice); });
        forgetIfDone(request);
    }

    void forgetIfDone(FileRequest& request) {
        if (!request.callDone || !request.finished) return;
        fileRequests.remove_if([&](const FileRequest& r) { return &r == &request; });
    }
};

Portal::Portal(RunLoop& runLoop) : impl_(std::make_unique<Impl>(runLoop)) {
    impl_->context = g_main_context_new();
    impl_->loop = g_main_loop_new(impl_->context, FALSE);
    impl_->thread = std::thread([impl = impl_.get()] { impl->run(); });
}

Portal::~Portal() {
    // Quit from inside the loop: a quit before the loop runs would be lost.
    impl_->submit([impl = impl_.get()] { g_main_loop_quit(impl->loop); });
    impl_->thread.join();
    g_main_loop_unref(impl_->loop);
    g_main_context_unref(impl_->context);
}

void Portal::openFile(const std::string& title, const std::string& parent,
                      const std::vector<std::string>& extensions,
                      std::function<void(const Choice&)> done) {
    impl_->submit([impl = impl_.get(), title, parent, extensions, done = std::move(done)] {
        impl->startOpenFile(title, parent, extensions, done);
    });
}

void Portal::watchColorScheme(std::function<void(ColorScheme)> changed) {
    impl_->submit([impl = impl_.get(), changed = std::move(changed)] {
        impl->schemeChanged = changed;
        impl->startWatchingColorScheme();
    });
}

bool Portal::unreachable() const { return impl_->unreachable.load(); }

std::optional<ColorScheme> Portal::awaitColorScheme(double seconds) {
    std::unique_lock lock(impl_->mutex);
    impl_->schemeReadChanged.wait_for(lock, std::chrono::duration<double>(seconds),
                                      [&] { return impl_->schemeRead; });
    return impl_->firstScheme;
}

}  // namespace vornik
