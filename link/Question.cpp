#include "link/Question.h"

Question Question::Read(const RegisterBlock& block, int address)
{
    Question q;
    q.kind = Kind::Read;
    q.block = block;
    q.address = address;
    return q;
}

Question Question::Write(int reg, uint16_t value, int address)
{
    Question q;
    q.kind = Kind::Write;
    q.reg = reg;
    q.value = value;
    q.address = address;
    return q;
}

const char* OutcomeName(ReplyOutcome outcome)
{
    switch (outcome) {
    case ReplyOutcome::Values: return "values";
    case ReplyOutcome::ReadFailed: return "read failed";
    case ReplyOutcome::Echoed: return "echoed";
    case ReplyOutcome::Refused: return "refused";
    case ReplyOutcome::Altered: return "altered";
    case ReplyOutcome::Unconfirmed: return "unconfirmed";
    case ReplyOutcome::NotSent: return "not sent";
    case ReplyOutcome::Aborted: return "aborted";
    }
    return "?";
}
