// Asks an X window to close as a window manager's close button does: a
// WM_DELETE_WINDOW client message. Usage: close_window WINDOW_ID (on $DISPLAY).
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
      nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: close_window WINDOW_ID\n");
    return 2;
  }
  const auto window = static_cast<xcb_window_t>(std::strtoul(argv[1], nullptr, 0));
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(connection)) {
    std::fprintf(stderr, "close_window: cannot connect to the display\n");
    xcb_disconnect(connection);
    return 1;
  }

  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = InternAtom(connection, "WM_PROTOCOLS");
  message.data.data32[0] = InternAtom(connection, "WM_DELETE_WINDOW");
  message.data.data32[1] = XCB_CURRENT_TIME;
  xcb_void_cookie_t sent = xcb_send_event_checked(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                                                  reinterpret_cast<const char*>(&message));
  xcb_generic_error_t* error = xcb_request_check(connection, sent);
  const bool ok = error == nullptr;
  std::free(error);
  xcb_disconnect(connection);
  if (!ok) std::fprintf(stderr, "close_window: no such window %s\n", argv[1]);
  return ok ? 0 : 1;
}
