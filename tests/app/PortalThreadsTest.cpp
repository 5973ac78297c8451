// The portal client on a dbus-daemon started here (stopped by its PID), with a GDBus portal of
// ours.

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "app/Application.h"
#include "app/Portal.h"
#include "support/DrawingEnvironment.h"
#include "support/Files.h"
#include "support/ScopedEnv.h"

namespace vornik {
namespace {

namespace fs = std::filesystem;
using Outcome = Portal::Choice::Outcome;

// A session bus with nothing on it that could be started on demand.
class TestBus {
public:
    TestBus() {
        std::ofstream(config_)
            << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
               "<auth>EXTERNAL</auth><policy context=\"default\">"
               "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>";
        // The shell becomes the daemon (exec): the pid it prints is the one pclose reaps.
        const std::string command =
            "exec dbus-daemon --nofork --print-address=1 --print-pid=1 "
            "--config-file=" +
            config_.string() + " 2>/dev/null";
        out_ = ::popen(command.c_str(), "r");
        char line[512] = "";
        if (out_ && std::fgets(line, sizeof line, out_)) address = std::strtok(line, "\n");
        if (out_ && std::fgets(line, sizeof line, out_)) pid_ = std::atoi(line);
    }
    ~TestBus() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        if (out_) ::pclose(out_);
    }
    std::string address;

private:
    test::TempDir dir_;
    fs::path config_ = dir_ / "bus.conf";
    FILE* out_ = nullptr;
    pid_t pid_ = 0;
};

constexpr const char* kPortalXml = R"(<node>
  <interface name="org.freedesktop.portal.FileChooser"><method name="OpenFile">
    <arg type="s"/><arg type="s"/><arg type="a{sv}"/><arg type="o" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.portal.Settings"><method name="Read">
    <arg type="s"/><arg type="s"/><arg type="v" direction="out"/></method>
  </interface></node>)";

// The desktop's portal as far as we use it, on a thread and GLib context of its own.
class FakePortal {
public:
    explicit FakePortal(const std::string& address) {
        std::promise<void> ready;
        thread_ = std::thread([&] {
            g_main_context_push_thread_default(context_);
            bus_ = g_dbus_connection_new_for_address_sync(
                address.c_str(),
                GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                     G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, nullptr);
            GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kPortalXml, nullptr);
            static const GDBusInterfaceVTable vtable{&FakePortal::onCall, nullptr, nullptr, {}};
            for (int i = 0; i < 2; ++i) {
                g_dbus_connection_register_object(bus_, "/org/freedesktop/portal/desktop",
                                                  node->interfaces[i], &vtable, this, nullptr,
                                                  nullptr);
            }
            g_dbus_node_info_unref(node);
            g_variant_unref(g_dbus_connection_call_sync(
                bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u), nullptr,
                G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
            ready.set_value();
            g_main_loop_run(loop_);
            g_dbus_connection_close_sync(bus_, nullptr, nullptr);
            g_object_unref(bus_);
        });
        ready.get_future().wait();
    }
    ~FakePortal() {
        g_main_context_invoke(
            context_,
            [](gpointer loop) {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            loop_);
        thread_.join();
        g_main_loop_unref(loop_);
        g_main_context_unref(context_);
    }

    void setScheme(const char* nameSpace, guint32 value) {
        if (std::strcmp(nameSpace, "org.freedesktop.appearance") == 0) scheme_ = value;
        g_dbus_connection_emit_signal(
            bus_, nullptr, "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings",
            "SettingChanged",
            g_variant_new("(ssv)", nameSpace, "color-scheme", g_variant_new_uint32(value)),
            nullptr);
    }

    // The next OpenFile: 0 chosen (uri), 1 cancelled, 2 failed. Returns the last one's arguments.
    std::string answer(guint32 code, std::string uri = {}) {
        std::lock_guard lock(mutex_);
        code_ = code;
        uri_ = std::move(uri);
        return lastOpen_;
    }

private:
    static void onCall(GDBusConnection* bus, const gchar* sender, const gchar*, const gchar*,
                       const gchar* method, GVariant* parameters, GDBusMethodInvocation* call,
                       gpointer data) {
        auto* self = static_cast<FakePortal*>(data);
        if (std::strcmp(method, "Read") == 0) {  // one variant more, as the portal's Read gives
            g_dbus_method_invocation_return_value(
                call, g_variant_new_parsed("(<<%u>>,)", self->scheme_.load()));
            return;
        }
        const gchar* token = "";
        g_autoptr(GVariant) options = g_variant_get_child_value(parameters, 2);
        g_variant_lookup(options, "handle_token", "&s", &token);
        std::string handle =
            std::string("/org/freedesktop/portal/desktop/request/") + (sender + 1) + "/" + token;
        std::replace(handle.begin(), handle.end(), '.', '_');
        g_dbus_method_invocation_return_value(call, g_variant_new("(o)", handle.c_str()));
        std::lock_guard lock(self->mutex_);
        g_autofree gchar* printed = g_variant_print(parameters, FALSE);
        self->lastOpen_ = printed;
        g_dbus_connection_emit_signal(
            bus, sender, handle.c_str(), "org.freedesktop.portal.Request", "Response",
            self->code_ == 0
                ? g_variant_new_parsed("(%u, {'uris': <[%s]>})", self->code_, self->uri_.c_str())
                : g_variant_new_parsed("(%u, @a{sv} {})", self->code_),
            nullptr);
    }

    GMainContext* context_ = g_main_context_new();
    GMainLoop* loop_ = g_main_loop_new(context_, FALSE);
    GDBusConnection* bus_ = nullptr;
    std::thread thread_;
    std::atomic<guint32> scheme_{1};  // prefer dark
    std::mutex mutex_;
    guint32 code_ = 1;
    std::string uri_, lastOpen_;
};

// Runs the loop's posted work until `done` holds (a safety limit, not a timing check).
template <class Done>
bool runUntil(RunLoop& loop, Done done) {
    for (int i = 0; i < 2500 && !done(); ++i) {
        loop.runDue();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

Portal::Choice choose(RunLoop& loop, Portal& portal) {
    std::optional<Portal::Choice> choice;
    portal.openFile("Open a sample", "x11:4a0002c", {"wav", "flac"},
                    [&](const Portal::Choice& answer) { choice = answer; });
    EXPECT_TRUE(runUntil(loop, [&] { return choice.has_value(); }));
    return choice.value_or(Portal::Choice{});
}

TEST(PortalThreadsTest, FileChooserAndColourSchemeOverARealBus) {
    TestBus bus;
    ASSERT_FALSE(bus.address.empty());
    SteadyClock clock;
    RunLoop loop(clock);
    // No bus, then a bus without a portal: nothing answers, and another chooser may step in.
    for (const std::string& address : {std::string("unix:path=/nonexistent"), bus.address}) {
        test::ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", address);
        Portal portal(loop);
        portal.watchColorScheme([](ColorScheme) { ADD_FAILURE() << "no portal, no scheme"; });
        EXPECT_EQ(portal.awaitColorScheme(5.0), std::nullopt) << address;
        EXPECT_EQ(choose(loop, portal).outcome, Outcome::Unavailable) << address;
    }

    test::ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", bus.address);
    FakePortal fake(bus.address);
    Portal portal(loop);
    // Read at start, then followed; another namespace's change is not ours.
    std::vector<ColorScheme> schemes;
    portal.watchColorScheme([&](ColorScheme s) { schemes.push_back(s); });
    EXPECT_EQ(portal.awaitColorScheme(5.0), ColorScheme::PreferDark);
    fake.setScheme("org.example.other", 2);
    fake.setScheme("org.freedesktop.appearance", 2);
    ASSERT_TRUE(runUntil(loop, [&] { return schemes.size() >= 2; }));
    EXPECT_EQ(schemes, (std::vector{ColorScheme::PreferDark, ColorScheme::PreferLight}));

    // A file chosen (its address decoded), a cancel, and a chooser that failed.
    const struct {
        guint32 code;
        std::string uri;
        Outcome outcome;
        std::string path;
    } cases[] = {{0, "file:///tmp/drum%20loop.wav", Outcome::Chosen, "/tmp/drum loop.wav"},
                 {1, "", Outcome::Cancelled, ""},
                 {2, "", Outcome::Unavailable, ""}};
    for (const auto& c : cases) {
        fake.answer(c.code, c.uri);
        const Portal::Choice choice = choose(loop, portal);
        EXPECT_EQ(choice.outcome, c.outcome) << c.code;
        EXPECT_EQ(choice.path, c.path);
    }
    // Over our window, offering the audio files in either case.
    const std::string open = fake.answer(1);
    EXPECT_EQ(open.rfind("('x11:4a0002c', 'Open a sample', {", 0), 0u) << open;
    for (const char* part : {"'*.wav'", "'*.FLAC'", "'modal': <true>", "'current_filter'"}) {
        EXPECT_NE(open.find(part), std::string::npos) << part << " in " << open;
    }
}

TEST(PortalThreadsTest, TheWindowFollowsTheDesktopAndOpensWithItsChooser) {
    TestBus bus;
    FakePortal fake(bus.address);
    const fs::path demo = test::sourcePath("assets/demo.wav");
    gchar* uri = g_filename_to_uri(demo.c_str(), nullptr, nullptr);
    fake.answer(0, uri);
    g_free(uri);
    test::ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", bus.address);
    test::ScopedEnv appearance("VORNIK_APPEARANCE", std::nullopt);
    test::TempDir dir;
    test::ScopedEnv stateHome("XDG_STATE_HOME", dir.file("state"));  // a start of its own
    test::ScopedEnv render("SDL_RENDER_DRIVER", "software");         // no Mesa threads
    test::ScopedEnv framebuffer("SDL_FRAMEBUFFER_ACCELERATION", "0");

    ApplicationOptions options;
    options.frames = 600;  // a safety net: the script quits long before
    options.screenshot = dir.file("shot.png");
    Application app(options);
    auto press = [&](SDL_Keycode key, Uint16 mod = KMOD_NONE) {
        SDL_Event e{};
        e.key = {SDL_KEYDOWN, 0, app.windowID(), SDL_PRESSED, 0, 0, 0, {{}, key, mod, 0}};
        SDL_PushEvent(&e);
    };
    // Stages: the desktop turns light, a file is chosen, help F1/Escape, ?/Escape.
    int stage = 0;
    app.setFrameHook([&](Application& a, int) {
        if (stage == 0) {
            EXPECT_EQ(a.appearance(), Appearance::Dark);  // the portal's, read at start
            fake.setScheme("org.freedesktop.appearance", 2);
        } else if (stage == 1 && a.appearance() == Appearance::Light) {
            press(SDLK_o, KMOD_LCTRL);
        } else if (stage == 2 && a.loadedFiles().size() == 1) {
            EXPECT_EQ(a.loadedFiles()[0], demo.string());
            press(SDLK_F1);
        } else if ((stage == 3 || stage == 5) && a.helpShown()) {
            press(SDLK_ESCAPE);
        } else if (stage == 4 && !a.helpShown()) {
            SDL_Event e{};
            e.text = {SDL_TEXTINPUT, 0, a.windowID(), "?"};
            SDL_PushEvent(&e);
        } else if (stage == 6 && !a.helpShown()) {
            a.quit();
        } else {
            return;
        }
        ++stage;
    });
    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(stage, 7);
    EXPECT_NE(fake.answer(1).find("'Open a sample'"), std::string::npos);
    // The picture switched with the desktop: the light one shows.
    const auto shot = Image::loadPng(options.screenshot);
    ASSERT_TRUE(shot);
    EXPECT_GT(shot->pixel(5, 5).r, 200);
}

}  // namespace
}  // namespace vornik
