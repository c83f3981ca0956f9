#include "window/window_main.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QIcon>
#include <QDir>
#include <QLibraryInfo>
#include <QSettings>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "formats/checkpoint.h"
#include "formats/scene_file.h"
#include "geometry/random.h"
#include "scene/scene_state.h"
#include "window/main_window.h"
#include "window/quiet_messages.h"

namespace reflector {

namespace {

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// A connection to the X server named by DISPLAY, held open until Qt has
// made its own. Connecting also passes the server's access control, which is
// what Qt's xcb plugin needs too. Holding it matters: a server with no other
// client (xvfb-run, a bare Xvfb) resets when its last client leaves, and Qt's
// connection would then race that reset and abort.
class XDisplayProbe {
 public:
  XDisplayProbe() : connection(xcb_connect(nullptr, nullptr)) {}
  ~XDisplayProbe() { xcb_disconnect(connection); }
  XDisplayProbe(const XDisplayProbe&) = delete;
  XDisplayProbe& operator=(const XDisplayProbe&) = delete;

  bool Reachable() const { return xcb_connection_has_error(connection) == 0; }

 private:
  xcb_connection_t* connection;
};

bool WaylandPluginInstalled() {
  const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
  return !platforms.entryList({QStringLiteral("libqwayland*")}, QDir::Files).isEmpty();
}

bool WaylandDisplayReachable() {
  std::string path = std::getenv("WAYLAND_DISPLAY");
  if (path.front() != '/') {
    const char* runtimeDirectory = std::getenv("XDG_RUNTIME_DIR");
    if (!runtimeDirectory) return false;
    path = std::string(runtimeDirectory) + "/" + path;
  }
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool reachable = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return reachable;
}

// Qt aborts when it cannot open its platform, so look first. A platform the
// user names is left to Qt. An X probe is left open for the caller to close
// once Qt has connected.
bool DisplayAvailable(std::optional<XDisplayProbe>& probe) {
  if (EnvironmentSet("QT_QPA_PLATFORM")) return true;
  if (EnvironmentSet("DISPLAY")) {
    probe.emplace();
    if (probe->Reachable()) return true;
    probe.reset();
  }
  if (EnvironmentSet("WAYLAND_DISPLAY") && WaylandPluginInstalled() && WaylandDisplayReachable()) {
    // Without this Qt may still try X first and abort.
    qputenv("QT_QPA_PLATFORM", "wayland");
    return true;
  }
  return false;
}

}  // namespace

int RunWindow(const CommandLine& options, int argc, char** argv) {
  std::optional<XDisplayProbe> probe;
  if (!DisplayAvailable(probe)) {
    std::fprintf(stderr,
                 "reflector: no display to open the window on; run 'reflector --headless', "
                 "or 'xvfb-run reflector' for the window on a virtual display\n");
    return 2;
  }
  // stderr carries the right-click lines and nothing else.
  InstallQuietMessageHandler();

  // A scene named on the command line is read before anything opens. A bad
  // one gives the headless runner's one-line error on stderr, and the window
  // opens on the default scene with the same words in a message box: started
  // from a launcher, nobody reads stderr.
  SceneDescription description;
  std::optional<std::string> sceneError;
  if (!options.sceneFile.empty()) {
    std::string error;
    if (!LoadSceneFile(options.sceneFile, description, error)) {
      std::fprintf(stderr, "reflector: %s\n", error.c_str());
      sceneError = error;
      description = SceneDescription{};
    }
  }
  // A checkpoint: its run goes on in the window; a bad one, as a bad scene.
  std::optional<Checkpoint> checkpoint;
  if (!options.resumeFile.empty()) {
    Checkpoint read;
    std::string error;
    if (LoadCheckpointFile(options.resumeFile, read, error)) {
      checkpoint = std::move(read);
    } else {
      std::fprintf(stderr, "reflector: %s\n", error.c_str());
      sceneError = error;
    }
  }
  const bool sceneRead = !options.sceneFile.empty() && !sceneError;

  // Outlives the application and the window; its destruction at the end of
  // this function stops and joins the last worker before the status is returned.
  // The seed: the command line's, else the scene's, else the start state.
  const std::uint32_t seed = options.seed.value_or(description.seed.value_or(1));
  SetRandomState(seed);
  SceneState scene;
  // Every run records what the plot's rewind needs.
  scene.keepRewind_ = true;
  scene.scoringThreads_ = static_cast<int>(RunThreads(options));
  scene.minimumMirrorVertices_ = 2;
  // What the first run starts from: another algorithm's seed too.
  scene.runSeed_ = seed;
  if (sceneRead) scene.LoadScene(description, seed);
  // The checkpoint's run is resumed once the window is there (UseCheckpoint).
  QApplication application(argc, argv);
  probe.reset();
  QApplication::setOrganizationName(QStringLiteral("ReflectorLab"));
  QApplication::setApplicationName(QStringLiteral("reflector"));
  // Ties the window to the desktop entry and its icon (docks, task bars, Wayland).
  QGuiApplication::setDesktopFileName(QStringLiteral("org.reflectorlab.ReflectorLab"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.reflectorlab.ReflectorLab")));
  QSettings settings;
  if (options.resetSettings) settings.clear();
  MainWindow window(scene, &settings);
  if (sceneRead) window.SetSceneFile(QString::fromStdString(options.sceneFile));
  if (checkpoint) window.UseCheckpoint(std::move(*checkpoint), QString::fromStdString(options.resumeFile));
  window.show();
  // A scene whose points lie beyond the canvas is brought into view.
  if (sceneRead || checkpoint) window.FitIfOutside();
  if (sceneError) {
    window.ReportError(QObject::tr("Cannot open the scene"), QString::fromStdString(*sceneError));
  }
  return application.exec();
}

}  // namespace reflector
