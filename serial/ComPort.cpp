// Placeholder until the termios port lands.
#include "serial/ComPort.h"

EComPort::EComPort(int errorCode, int osErrorCode)
    : std::runtime_error(MessageFor(errorCode, osErrorCode).toStdString()),
      ErrorCode(errorCode), OsErrorCode(osErrorCode) {}
QString EComPort::MessageFor(int, int) { return QStringLiteral("Unable to open com port"); }
TComPort::TComPort(QObject* owner) : QObject(owner) {}
TComPort::~TComPort() = default;
QString TComPort::NormalizePortName(const QString& name) { return name; }
QString TComPort::DevicePathFor(const QString& portName) { return portName; }
void TComPort::SetPort(const QString& name) { port_ = name; }
void TComPort::Open() { throw EComPort(1, 2); }
void TComPort::Close() {}
int TComPort::Write(const void*, int) { return 0; }
int TComPort::Read(void*, int) { return 0; }
int TComPort::BytesWaiting() { return 0; }
void TComPort::AddLink(TComLink* link) { links_.push_back(link); }
void TComPort::RemoveLink(TComLink*) {}
void TComPort::SetSyncMethod(TSyncMethod method) { syncMethod_ = method; }
void TComPort::ApplySettings() {}
void TComPort::startWatcher() {}
void TComPort::stopWatcher() {}
void TComPort::watcherLoop() {}
void TComPort::deliverRxChar() {}
void TComPort::deliverDeviceLost(int) {}
