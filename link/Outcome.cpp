#include "link/Outcome.h"

const char* OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Values: return "values";
    case Outcome::Echoed: return "echoed";
    case Outcome::Altered: return "altered";
    case Outcome::Refused: return "refused";
    case Outcome::NoAnswer: return "no answer";
    case Outcome::Unconfirmed: return "unconfirmed";
    case Outcome::NotSent: return "not sent";
    case Outcome::Aborted: return "aborted";
    }
    return "?";
}

Outcome OutcomeOf(bool write, bool leftThePc, Ending ending, ReplyVerdict verdict, ExchangeFailure why)
{
    switch (ending) {
    case Ending::Reply:
        switch (verdict) {
        case ReplyVerdict::ReadValid: return Outcome::Values;
        case ReplyVerdict::WriteEcho: return Outcome::Echoed;
        case ReplyVerdict::WriteAltered: return Outcome::Altered;
        default: return Outcome::Refused;
        }
    case Ending::TriesSpent:
        // A read the relay refused at its last try has the relay's own word;
        // a write it refused was answered, not failed. A write whose tries
        // were all spent waiting for a silent line never left the PC.
        if (write && !leftThePc)
            return Outcome::NotSent;
        return !write && why == ExchangeFailure::Refused ? Outcome::Refused : Outcome::NoAnswer;
    case Ending::LineGone:
        // A write that left the PC may have reached the relay: the journal
        // must say so. Anything else simply did not happen.
        return write && leftThePc ? Outcome::Unconfirmed : Outcome::Aborted;
    case Ending::Withdrawn:
        return leftThePc ? Outcome::Unconfirmed : Outcome::NotSent;
    }
    return Outcome::Aborted;
}

bool RelayAnswered(Outcome outcome)
{
    return outcome == Outcome::Values || outcome == Outcome::Echoed || outcome == Outcome::Altered
        || outcome == Outcome::Refused;
}

bool LeftUnanswered(Outcome outcome)
{
    return outcome == Outcome::NoAnswer || outcome == Outcome::Unconfirmed;
}
