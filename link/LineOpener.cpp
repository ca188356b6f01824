#include "link/LineOpener.h"

#include <QRegularExpression>

#include <algorithm>

#include "link/SerialLine.h"
#include "link/TcpLine.h"
#include "serial/ComPort.h"
#include "serial/DeviceNames.h"

namespace {

// A device server or gateway that has not taken the connection by then is
// not there: the front end must not stand still for longer.
constexpr int kConnectTimeoutMs = 5000;

bool IsComName(const QString& name)
{
    static const QRegularExpression com(QStringLiteral("^COM[0-9]+$"), QRegularExpression::CaseInsensitiveOption);
    return com.match(name).hasMatch();
}

}  // namespace

LineOpener::LineOpener(int networkAllowanceMs, QObject* parent)
    : QObject(parent), allowanceMs_(std::max(networkAllowanceMs, 0)), portLink_(std::make_unique<TComLink>())
{
    // The line as the relay wants it: 9600 8N1, no flow control, DTR and RTS
    // off; every received character reported on this thread.
    port_ = new TComPort(this);
    port_->setObjectName(QStringLiteral("ComPort"));
    port_->BaudRate = br9600;
    port_->StopBits = sbOneStopBit;
    port_->DataBits = dbEight;
    port_->Events = {evRxChar};
    port_->Timeouts.ReadInterval = -1;
    port_->Timeouts.ReadTotalMultiplier = 200;
    port_->Timeouts.ReadTotalConstant = 200;
    port_->Timeouts.WriteTotalMultiplier = 0;
    port_->Timeouts.WriteTotalConstant = 0;
    port_->SetSyncMethod(smWindowSync);
    serialLine_ = std::make_unique<SerialLine>(port_);
    current_ = serialLine_.get();
    port_->OnRxChar = [this](QObject*, int count) {
        if (OnReceived)
            OnReceived(count);
    };
    portLink_->OnDeviceLost = [this](int osError, const QString& reason) {
        if (OnLost)
            OnLost(osError, reason);
    };
    port_->AddLink(portLink_.get());
}

LineOpener::~LineOpener()
{
    if (netLine_) {
        netLine_->OnReceived = nullptr;
        netLine_->OnLost = nullptr;
        netLine_.reset();
    }
    // Nothing of the opener may be called back while the port goes.
    port_->OnRxChar = nullptr;
    port_->RemoveLink(portLink_.get());
    delete port_;
    port_ = nullptr;
}

QString LineOpener::DevicePath() const
{
    return endpoint_.isEmpty() ? port_->DevicePath() : endpoint_;
}

TcpLine* LineOpener::NetworkLine() const
{
    return netLine_ && current_ == netLine_.get() ? netLine_.get() : nullptr;
}

OpenedLine LineOpener::Open(const QString& name)
{
    // A COMn name may be mapped to an endpoint: the mapping first, then the
    // line by what it names.
    const QString target = IsComName(name) ? DeviceNames::DevicePathFor(name) : name;
    return NamesEndpoint(target) ? openNetwork(target) : openSerial(name);
}

void LineOpener::Close()
{
    if (NetworkLine())
        netLine_->Close();
    else
        port_->Close();
}

OpenedLine LineOpener::openSerial(const QString& name)
{
    endpoint_.clear();
    if (NetworkLine()) {
        netLine_->Close();
        current_ = serialLine_.get();
    }
    if (IsComName(name)) {
        port_->SetDevicePath(QString());
        port_->SetPort(name);
    } else {
        port_->SetDevicePath(name);
    }
    port_->Open();
    // A pty hands bytes on at once; a real adapter keeps the wire's time.
    serialLine_->SetKeepsLineTime(!IsPseudoTerminal(port_->DevicePath()));
    OpenedLine opened{serialLine_.get(), {}};
    opened.traits.keepsLineTime = serialLine_->KeepsLineTime();
    opened.traits.shownAs = port_->DevicePath();
    return opened;
}

OpenedLine LineOpener::openNetwork(const QString& endpoint)
{
    endpoint_ = endpoint;
    QString error;
    const std::optional<::Endpoint> parsed = ParseEndpoint(endpoint, &error);
    if (!parsed)
        throw ELineOpen(-1, error);
    endpoint_ = parsed->Text();
    if (port_->Connected())
        port_->Close();
    if (netLine_)
        netLine_->Close();
    if (!netLine_ || netScheme_ != parsed->scheme) {
        netLine_.reset(parsed->scheme == LineScheme::ModbusTcp ? new MbapLine : new TcpLine);
        netScheme_ = parsed->scheme;
        netLine_->OnReceived = [this](int count) {
            if (OnReceived)
                OnReceived(count);
        };
        netLine_->OnLost = [this](int osError, const QString& reason) {
            if (OnLost)
                OnLost(osError, reason);
        };
    }
    netLine_->Connect(*parsed, kConnectTimeoutMs);
    current_ = netLine_.get();
    OpenedLine opened{netLine_.get(), {}};
    opened.traits.keepsLineTime = netLine_->KeepsLineTime();
    opened.traits.mbap = netScheme_ == LineScheme::ModbusTcp;
    opened.traits.allowanceMs = allowanceMs_;
    opened.traits.shownAs = endpoint_;
    return opened;
}
