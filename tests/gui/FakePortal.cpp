// A stand-in for the desktop portal's GlobalShortcuts interface, on the
// session bus the tests start: `fake_portal MODE`, where MODE is
//   answer   sessions are made and shortcuts bound
//   decline  the user declines binding the shortcuts
//   error    CreateSession fails with a D-Bus error
//   silent   CreateSession is never answered
// Tests drive it through its own interface app.vesko.test.FakePortal on the
// same object: Bound() returns the shortcuts of the last BindShortcuts as
// JSON text ([] before), Activate(id) emits Activated for the last session.
#include <gio/gio.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

namespace {

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.freedesktop.portal.GlobalShortcuts">
    <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="BindShortcuts">
      <arg type="o" direction="in"/><arg type="a(sa{sv})" direction="in"/><arg type="s" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="o" direction="out"/>
    </method>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="app.vesko.test.FakePortal">
    <method name="Bound"><arg type="s" direction="out"/></method>
    <method name="Activate"><arg type="s" direction="in"/></method>
  </interface>
</node>)xml";

std::string mode;
std::string sessionHandle;
std::string sessionOwner;
nlohmann::json bound = nlohmann::json::array();

// The Request object path the portal makes for a call: the caller's unique
// name without ':' and with '.' as '_', then the caller's token.
std::string handleFor(const char* kind, const std::string& sender, GVariant* options, const char* key) {
    std::string name = sender.substr(1);
    for (char& c : name)
        if (c == '.') c = '_';
    const char* token = "t";
    g_variant_lookup(options, key, "&s", &token);
    return std::string("/org/freedesktop/portal/desktop/") + kind + "/" + name + "/" + token;
}

void respond(GDBusConnection* bus, const std::string& to, const std::string& request, guint32 code, GVariant* results) {
    g_dbus_connection_emit_signal(bus, to.c_str(), request.c_str(), "org.freedesktop.portal.Request", "Response",
                                  g_variant_new("(u@a{sv})", code, results), nullptr);
}

GVariant* emptyResults() { return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0); }

void call(GDBusConnection* bus, const gchar* sender, const gchar*, const gchar*, const gchar* method,
          GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
    const std::string from = sender;
    if (g_str_equal(method, "CreateSession")) {
        if (mode == "silent") return;  // never answered; the invocation is left to leak
        if (mode == "error") {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.Failed",
                                                       "Global shortcuts are switched off");
            return;
        }
        GVariant* options = g_variant_get_child_value(parameters, 0);
        const std::string request = handleFor("request", from, options, "handle_token");
        sessionHandle = handleFor("session", from, options, "session_handle_token");
        sessionOwner = from;
        g_variant_unref(options);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
        GVariantBuilder results;
        g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&results, "{sv}", "session_handle", g_variant_new_string(sessionHandle.c_str()));
        respond(bus, from, request, 0, g_variant_builder_end(&results));
    } else if (g_str_equal(method, "BindShortcuts")) {
        GVariant* shortcuts = nullptr;
        GVariant* options = nullptr;
        g_variant_get(parameters, "(&o@a(sa{sv})&s@a{sv})", nullptr, &shortcuts, nullptr, &options);
        bound = nlohmann::json::array();
        GVariantIter iter;
        g_variant_iter_init(&iter, shortcuts);
        const char* id = nullptr;
        GVariant* properties = nullptr;
        while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
            const char* description = "";
            const char* trigger = "";
            g_variant_lookup(properties, "description", "&s", &description);
            g_variant_lookup(properties, "preferred_trigger", "&s", &trigger);
            bound.push_back({{"id", id}, {"description", description}, {"preferred_trigger", trigger}});
            g_variant_unref(properties);
        }
        const std::string request = handleFor("request", from, options, "handle_token");
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
        if (mode == "decline") {
            respond(bus, from, request, 1, emptyResults());
        } else {
            GVariantBuilder results;
            g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
            g_variant_builder_add(&results, "{sv}", "shortcuts", shortcuts);
            respond(bus, from, request, 0, g_variant_builder_end(&results));
        }
        g_variant_unref(shortcuts);
        g_variant_unref(options);
    } else if (g_str_equal(method, "Bound")) {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", bound.dump().c_str()));
    } else if (g_str_equal(method, "Activate")) {
        const char* id = nullptr;
        g_variant_get(parameters, "(&s)", &id);
        g_dbus_connection_emit_signal(bus, sessionOwner.c_str(), "/org/freedesktop/portal/desktop",
                                      "org.freedesktop.portal.GlobalShortcuts", "Activated",
                                      g_variant_new("(ost@a{sv})", sessionHandle.c_str(), id, g_get_monotonic_time(),
                                                    emptyResults()),
                                      nullptr);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }
}

GVariant* property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GError**, gpointer) {
    return g_variant_new_uint32(1);
}

}  // namespace

int main(int argc, char** argv) {
    mode = argc > 1 ? argv[1] : "answer";
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        std::fprintf(stderr, "fake_portal: %s\n", error->message);
        return 1;
    }
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable = {call, property, nullptr, {}};
    for (int i = 0; node->interfaces[i]; ++i)
        g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop", node->interfaces[i], &vtable, nullptr,
                                          nullptr, nullptr);
    g_bus_own_name_on_connection(bus, "org.freedesktop.portal.Desktop", G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, nullptr,
                                 nullptr, nullptr);
    g_main_loop_run(g_main_loop_new(nullptr, FALSE));
}
