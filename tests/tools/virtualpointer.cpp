// A pointer for a headless wlroots compositor, which has none of its own: it creates a
// virtual pointer on the seat and moves, presses or releases it.
//   bellboard-test-pointer hold                      keeps a pointer on the seat until killed
//   bellboard-test-pointer move X Y WIDTH HEIGHT     to X, Y of a WIDTH x HEIGHT layout
//   bellboard-test-pointer press|release BUTTON      a Linux input code: 272 left, 273 right
// With one `hold` running, the seat keeps its pointer between the other commands, so the
// program keeps its wl_pointer and no event falls between two devices.
#include <wayland-client.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <unistd.h>

namespace {

// The virtual-pointer protocol, unstable version 1, as the wlroots compositors offer it.
// Requests are sent by their index in these tables; libwayland wants the type lists mutable.
extern const wl_interface pointerInterface;
const wl_interface *createTypes[] = {&wl_seat_interface, &pointerInterface};
const wl_message managerRequests[] = {
    {"create_virtual_pointer", "?on", createTypes},
    {"destroy", "", nullptr},
};
const wl_interface managerInterface
    = {"zwlr_virtual_pointer_manager_v1", 1, 2, managerRequests, 0, nullptr};
const wl_interface *noTypes[] = {nullptr, nullptr, nullptr, nullptr, nullptr};
const wl_message pointerRequests[] = {
    {"motion", "uff", noTypes},   {"motion_absolute", "uuuuu", noTypes},
    {"button", "uuu", noTypes},   {"axis", "uuf", noTypes},
    {"frame", "", nullptr},       {"axis_source", "u", noTypes},
    {"axis_stop", "uu", noTypes}, {"axis_discrete", "uufi", noTypes},
    {"destroy", "", nullptr},
};
const wl_interface pointerInterface
    = {"zwlr_virtual_pointer_v1", 1, 9, pointerRequests, 0, nullptr};
enum PointerRequest { MotionAbsolute = 1, Button = 2, Frame = 4, Destroy = 8 };

wl_seat *seat = nullptr;
wl_proxy *manager = nullptr;

void global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (!std::strcmp(interface, wl_seat_interface.name) && !seat)
        seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (!std::strcmp(interface, managerInterface.name))
        manager = static_cast<wl_proxy *>(wl_registry_bind(registry, name, &managerInterface, 1));
}

void globalRemove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener registryListener = {global, globalRemove};

uint32_t now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint32_t(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

int usage()
{
    std::fputs(
        "usage: bellboard-test-pointer hold | move X Y WIDTH HEIGHT | press|release BUTTON\n",
        stderr);
    return 2;
}

void quit(int) {}

} // namespace

int main(int argc, char *argv[])
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (!(command == "hold" && argc == 2) && !(command == "move" && argc == 6)
        && !((command == "press" || command == "release") && argc == 3))
        return usage();
    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::fputs("bellboard-test-pointer: no Wayland compositor answers\n", stderr);
        return 1;
    }
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (!seat || !manager) {
        std::fputs("bellboard-test-pointer: the compositor offers no virtual pointer\n", stderr);
        return 1;
    }
    wl_proxy *pointer = wl_proxy_marshal_constructor(manager, 0, &pointerInterface, seat, nullptr);
    if (command == "move") {
        wl_proxy_marshal(pointer, MotionAbsolute, now(), uint32_t(std::atoi(argv[2])),
                         uint32_t(std::atoi(argv[3])), uint32_t(std::atoi(argv[4])),
                         uint32_t(std::atoi(argv[5])));
        wl_proxy_marshal(pointer, Frame);
    } else if (command != "hold") {
        wl_proxy_marshal(pointer, Button, now(), uint32_t(std::atoi(argv[2])),
                         uint32_t(command == "press" ? 1 : 0));
        wl_proxy_marshal(pointer, Frame);
    }
    wl_display_roundtrip(display);
    if (command == "hold") {
        std::signal(SIGTERM, quit);
        pause();
    }
    wl_proxy_marshal(pointer, Destroy);
    wl_proxy_destroy(pointer);
    wl_proxy_destroy(manager);
    wl_seat_destroy(seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
