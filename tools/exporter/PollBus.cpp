#include "PollBus.h"

#include <exception>

std::vector<std::string> PollBus::Names() const
{
    std::vector<std::string> names;
    for (const PollOutput* output : outputs_)
        names.emplace_back(output->Name());
    return names;
}

template <class Event>
void PollBus::Send(void (PollOutput::*handler)(const Event&), const Event& event)
{
    for (PollOutput* output : outputs_) {
        try {
            (output->*handler)(event);
        } catch (const std::exception& e) {
            OnOutputError({output->Name(), QStringLiteral("the %1 output failed: %2")
                                                  .arg(QLatin1String(output->Name()), QString::fromLocal8Bit(e.what()))});
        }
    }
}

void PollBus::OnLineAdded(const LineConfig& e) { Send(&PollOutput::OnLineAdded, e); }
void PollBus::OnLineRemoved(const LineConfig& e) { Send(&PollOutput::OnLineRemoved, e); }
void PollBus::OnRelayAdded(const RelayChange& e) { Send(&PollOutput::OnRelayAdded, e); }
void PollBus::OnRelayRemoved(const RelayChange& e) { Send(&PollOutput::OnRelayRemoved, e); }
void PollBus::OnLineState(const LineState& e) { Send(&PollOutput::OnLineState, e); }
void PollBus::OnLineNoise(const LineNoise& e) { Send(&PollOutput::OnLineNoise, e); }
void PollBus::OnBlockRead(const BlockRead& e) { Send(&PollOutput::OnBlockRead, e); }
void PollBus::OnReadFailed(const ReadFailed& e) { Send(&PollOutput::OnReadFailed, e); }
void PollBus::OnRelayLook(const RelayLook& e) { Send(&PollOutput::OnRelayLook, e); }
void PollBus::OnRecordSeen(const RecordSeen& e) { Send(&PollOutput::OnRecordSeen, e); }
void PollBus::OnRecordArchived(const RecordArchived& e) { Send(&PollOutput::OnRecordArchived, e); }
void PollBus::OnTripsRestored(const TripsRestored& e) { Send(&PollOutput::OnTripsRestored, e); }
void PollBus::OnArchiveBacklog(const ArchiveBacklog& e) { Send(&PollOutput::OnArchiveBacklog, e); }

void PollBus::OnOutputError(const OutputError& e)
{
    // A fault while telling of a fault is dropped: no loop.
    for (PollOutput* output : outputs_) {
        try {
            output->OnOutputError(e);
        } catch (const std::exception&) {
        }
    }
}
