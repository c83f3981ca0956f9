#include "window/quiet_messages.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdio>

namespace reflector {

namespace {

void QuietMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) {
    const QByteArray text = qFormatLogMessage(type, context, message).toLocal8Bit();
    std::fprintf(stderr, "%s\n", text.constData());
    std::fflush(stderr);
  }
}

}  // namespace

void InstallQuietMessageHandler() { qInstallMessageHandler(QuietMessageHandler); }

}  // namespace reflector
