// harnolfees-gui: the fee editor for one center.
#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>

#include "main_window.hpp"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Harnol");
  QApplication::setApplicationName("HarnolFeesCenter");

  QCommandLineParser parser;
  parser.setApplicationDescription("Maintain the fee schedule of one franchise center.");
  parser.addHelpOption();
  QCommandLineOption url("url", "Address prefix of the fee server pages.", "URL");
  QCommandLineOption center("center", "The center to load.", "N");
  QCommandLineOption serverDate("server-date", "The server's date (default: today).", "DATE");
  QCommandLineOption viewMode("view-mode", "Read-only presentation.");
  parser.addOptions({url, center, serverDate, viewMode});
  parser.process(app);

  // The last settings are remembered; options given now replace them.
  QSettings stored;
  harnolfees::qt::EditorSettings settings;
  settings.url = parser.isSet(url) ? parser.value(url) : stored.value("url").toString();
  settings.center =
      parser.isSet(center) ? parser.value(center).toInt() : stored.value("center", 1).toInt();
  settings.serverDate = parser.value(serverDate);
  settings.viewMode = parser.isSet(viewMode);
  // Credentials in the address are never written to disk.
  stored.setValue("url", harnolfees::qt::AddressWithoutCredentials(settings.url));
  stored.setValue("center", settings.center);

  harnolfees::qt::MainWindow window(settings);
  window.show();
  if (!settings.url.isEmpty()) window.Reload();
  return app.exec();
}
