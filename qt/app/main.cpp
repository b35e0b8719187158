// harnolfees-gui: the fee editor for one center.
#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "main_window.hpp"

namespace {

struct Options {
  QCommandLineOption url{"url", "Address prefix of the fee server pages.", "URL"};
  QCommandLineOption center{"center", "The center to load.", "N"};
  QCommandLineOption serverDate{"server-date", "The server's date (default: today).", "DATE"};
  QCommandLineOption viewMode{"view-mode", "Read-only presentation."};
  QCommandLineOption caFile{"ca-file",
                            "PEM file of the certificate authorities for https addresses.", "FILE"};
  QCommandLineOption screenshot{
      "screenshot", "Load, save a PNG of the window (1280x800) to FILE and exit.", "FILE"};
};

// The usage text; without an application object Qt cannot name the program.
QString Usage(const QCommandLineParser& parser) {
  return parser.helpText().replace("<executable_name>", "harnolfees-gui");
}

}  // namespace

int main(int argc, char** argv) {
  // The options are read before any window system is needed, so that
  // --help and mistakes are answered without a display.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  parser.setApplicationDescription("Maintain the fee schedule of one franchise center.");
  const QCommandLineOption help = parser.addHelpOption();
  Options o;
  parser.addOptions({o.url, o.center, o.serverDate, o.viewMode, o.caFile, o.screenshot});
  if (!parser.parse(arguments)) {
    std::fprintf(stderr, "harnolfees-gui: %s\n\n%s", qPrintable(parser.errorText()),
                 qPrintable(Usage(parser)));
    return 2;
  }
  if (parser.isSet(help)) {
    std::fputs(qPrintable(Usage(parser)), stdout);
    return 0;
  }
  bool centerOk = true;
  const int centerGiven = parser.isSet(o.center) ? parser.value(o.center).toInt(&centerOk) : 0;
  if (!centerOk || centerGiven < 0 || centerGiven > 32767) {
    std::fprintf(stderr, "harnolfees-gui: --center takes a number from 0 to 32767\n");
    return 2;
  }

  // The transfers read the authorities from here (see NetworkTimeouts).
  if (parser.isSet(o.caFile)) setenv("HARNOLFEES_CA_FILE", qPrintable(parser.value(o.caFile)), 1);

  QApplication app(argc, argv);
  QApplication::setOrganizationName("Harnol");
  QApplication::setApplicationName("HarnolFeesCenter");

  // The last settings are remembered; options given now replace them.
  QSettings stored;
  harnolfees::qt::EditorSettings settings;
  settings.url = parser.isSet(o.url) ? parser.value(o.url) : stored.value("url").toString();
  settings.center = parser.isSet(o.center) ? centerGiven : stored.value("center", 1).toInt();
  settings.serverDate = parser.value(o.serverDate);
  settings.viewMode = parser.isSet(o.viewMode);
  // Credentials in the address are never written to disk.
  stored.setValue("url", harnolfees::qt::AddressWithoutCredentials(settings.url));
  stored.setValue("center", settings.center);

  harnolfees::qt::MainWindow window(settings);
  if (parser.isSet(o.screenshot)) {
    window.resize(1280, 800);
    window.show();
    window.Reload();
    QApplication::processEvents();
    const bool saved = window.grab().save(parser.value(o.screenshot), "PNG");
    if (!saved) std::fprintf(stderr, "harnolfees-gui: could not write the screenshot\n");
    return saved && window.Loaded() ? 0 : 1;
  }
  window.show();
  if (!settings.url.isEmpty()) QTimer::singleShot(0, &window, &harnolfees::qt::MainWindow::Reload);
  return app.exec();
}
